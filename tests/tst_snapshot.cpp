// SPDX-License-Identifier: MIT
#include "model/NodeRuntime.h"
#include "model/SnapshotEncoder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <limits>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

const char *const goodAlert = R"({"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","severity":"warning",
    "title":"t","detail":"d","createdAt":"2026-12-06T10:00:00Z"})";

// A minimal valid reply with one member replaced (or removed when value is empty).
QByteArray reply(const QString &key = {}, const QByteArray &value = {})
{
    QJsonObject o = QJsonDocument::fromJson(R"({"cpuUsage":1.5,"memoryUsage":2,"diskUsage":3,
        "uptimeSeconds":4,"loadAverage":0.5,"servicesRunning":5,"servicesTotal":6,"alerts":[],
        "observedAt":"2026-12-06T10:00:00Z"})")
                        .object();
    o.remove(key);
    QByteArray body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    if (value.isNull()) return body;
    body.chop(1);
    return body + ",\"" + key.toUtf8() + "\":" + value + '}';
}

MetricsSnapshot decodeOk(const QByteArray &body)
{
    auto r = decodeSnapshot(body);
    if (auto *e = std::get_if<QString>(&r)) qWarning() << *e;
    return std::get<MetricsSnapshot>(r);
}

ServerAlert alert(const QString &severity)
{
    return makeAlert(severity, u"t"_s, u"d"_s, QDateTime::currentDateTimeUtc());
}

} // namespace

class TestSnapshot : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Every reply is accepted whole or refused whole, with a message naming the place.
    void decode_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error"); // a part of the expected message; empty: accepted
        QTest::newRow("minimal") << reply() << QString();
        QTest::newRow("nesting 1024 deep")
            << reply(u"x"_s, QByteArray(1023, '[') + QByteArray(1023, ']')) << QString();
        QTest::newRow("whitespace around") << " \t\r\n" + reply() + "\n " << QString();
        QTest::newRow("extra keys everywhere")
            << reply(u"hardware"_s, R"({"x":1,"cpu":{"y":[1]}})") << QString();
        QTest::newRow("null optionals")
            << reply(u"network"_s, R"({"hostname":null,"addresses":null})") << QString();
        QTest::newRow("lower-case uuid")
            << reply(u"alerts"_s,
                     QByteArray("[") + QByteArray(goodAlert).replace("3F2504E0", "3f2504e0") + "]")
            << QString();
        QTest::newRow("full hardware")
            << reply(u"hardware"_s,
                     R"({"cpu":{"cores":4,"threads":8,"model":"x","temperatureC":50},
            "memory":{"totalBytes":1e10,"availableBytes":1,"usedBytes":2},
            "storage":{"root":{"totalBytes":1,"freeBytes":1,"usedBytes":0,"temperatureC":30.5}},
            "hottestTemperatureC":70,"hottestSensor":{"name":"a","chip":"b","temperatureC":70}})")
            << QString();
        QTest::newRow("address with interface")
            << reply(u"network"_s, R"({"addresses":[{"address":"::1","scope":"host","interface":"lo"}],
            "lan":[],"tailscale":["fd7a:115c:a1e0::1"]})")
            << QString();
        QTest::newRow("empty body") << QByteArray() << u"JSON syntax error at line 1, column 1"_s;
        QTest::newRow("array at top") << QByteArray("[]") << u"$: expected an object"_s;
        QTest::newRow("missing required") << reply(u"cpuUsage"_s) << u"$.cpuUsage: required value missing"_s;
        QTest::newRow("null required") << reply(u"alerts"_s, "null") << u"$.alerts: required value is null"_s;
        QTest::newRow("string for double")
            << reply(u"cpuUsage"_s, R"("12")") << u"$.cpuUsage: expected a number"_s;
        QTest::newRow("fraction for integer")
            << reply(u"servicesRunning"_s, "3.5") << u"expected an integer"_s;
        QTest::newRow("integer just above 64 bits")
            << reply(u"servicesTotal"_s, "9223372036854775808")
            << u"$.servicesTotal: integer out of the signed 64-bit range"_s;
        QTest::newRow("integer just below 64 bits")
            << reply(u"servicesTotal"_s, "-9223372036854775809")
            << u"integer out of the 64-bit range: -9223372036854775809"_s;
        QTest::newRow("exponent beyond 64 bits")
            << reply(u"servicesTotal"_s, "-1e19")
            << u"$.servicesTotal: integer out of the signed 64-bit range"_s;
        QTest::newRow("number beyond double") << reply(u"cpuUsage"_s, "1e400") << u"number overflow"_s;
        // Text that lenient readers repair. Each is refused as a syntax error with its place.
        QTest::newRow("unknown escape in a key")
            << QByteArray(R"({"\cpuUsage":77})") << u"JSON syntax error at line 1, column 4"_s;
        QTest::newRow("unknown escape in a value")
            << reply(u"hardware"_s, R"({"cpu":{"model":"\x41"}})") << u"JSON syntax error at line 1"_s;
        for (const char *number : {".5", "-.5", "1.", "1.e3", "01", "+1", "0x10", "NaN", "1e"})
            QTest::addRow("number %s", number)
                << reply(u"cpuUsage"_s, number) << u"JSON syntax error at line 1"_s;
        for (const auto &[name, raw] :
             {std::pair{"TAB", '\t'}, std::pair{"LF", '\n'}, std::pair{"0x01", '\x01'}})
            QTest::addRow("raw %s in a string", name)
                << reply(u"network"_s, QByteArray("{\"hostname\":\"a") + raw + "b\"}")
                << u"control character"_s;
        QTest::newRow("invalid UTF-8") << reply(u"network"_s, "{\"hostname\":\"\xc3\x28\"}") << u"UTF-8"_s;
        QTest::newRow("lone surrogate escape")
            << reply(u"network"_s, R"({"hostname":"\ud800"})") << u"JSON syntax error at line 1"_s;
        QTest::newRow("trailing comma in a list")
            << reply(u"alerts"_s, "[1,]") << u"JSON syntax error at line 1"_s;
        QTest::newRow("trailing comma in an object")
            << reply(u"hardware"_s, "{\"cpu\":{},}") << u"JSON syntax error at line 1"_s;
        QTest::newRow("value after the value") << reply() + " {}" << u"JSON syntax error at line 1"_s;
        QTest::newRow("single quotes") << reply(u"network"_s, "{'hostname':'a'}") << u"JSON syntax error"_s;
        QTest::newRow("nesting 1025 deep") << reply(u"x"_s, QByteArray(1024, '[') + QByteArray(1024, ']'))
                                           << u"JSON nesting deeper than 1024 levels"_s;
        // A number, a bare date, no zone, a space for T, no seconds, February 30, hour 24, a bad offset, an
        // empty fraction.
        for (const char *at :
             {"1733480000", R"("2026-12-06")", R"("2026-12-06T10:00:00")", R"("2026-12-06 10:00:00Z")",
              R"("2026-12-06T10:00Z")", R"("2026-02-30T10:00:00Z")", R"("2026-12-06T24:00:00Z")",
              R"("2026-12-06T10:00:00+0800")", R"("2026-12-06T10:00:00.Z")"})
            QTest::addRow("timestamp %s", at) << reply(u"observedAt"_s, at) << u"RFC 3339"_s;
        QTest::newRow("braced uuid")
            << reply(u"alerts"_s,
                     QByteArray("[") +
                         QByteArray(goodAlert).replace("\"3F", "\"{3F").replace("01\"", "01}\"") + "]")
            << u"$.alerts[0].id: expected a UUID string"_s;
        QTest::newRow("alert lacks detail")
            << reply(u"alerts"_s,
                     QByteArray("[") + goodAlert + R"(,{"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301",
            "severity":"warning","title":"t","createdAt":"2026-12-06T10:00:00Z"}])")
            << u"$.alerts[1].detail: required value missing"_s;
        QTest::newRow("nested optional of wrong kind")
            << reply(u"hardware"_s, R"({"storage":{"root":{"freeBytes":"1"}}})")
            << u"$.hardware.storage.root.freeBytes: expected a number"_s;
        QTest::newRow("address lacks scope") << reply(u"network"_s, R"({"addresses":[{"address":"::1"}]})")
                                             << u"$.network.addresses[0].scope"_s;
        QTest::newRow("text list with number")
            << reply(u"network"_s, R"({"lan":["a",1]})") << u"$.network.lan[1]"_s;
        QTest::newRow("notices not a list") << reply(u"notices"_s, "{}") << u"$.notices: expected an array"_s;
    }

    void decode()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        const auto r = decodeSnapshot(body);
        const QString *actual = std::get_if<QString>(&r);
        QVERIFY2(bool(actual) != error.isEmpty(), actual ? qPrintable(*actual) : "accepted");
        if (actual) QVERIFY2(actual->contains(error), qPrintable(*actual));
    }

    void integers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("largest") << QByteArray("9223372036854775807") << std::numeric_limits<qint64>::max();
        QTest::newRow("smallest") << QByteArray("-9223372036854775808") << std::numeric_limits<qint64>::min();
        QTest::newRow("negative zero") << QByteArray("-0") << qint64(0);
        QTest::newRow("with a fraction") << QByteArray("3.0") << qint64(3);
        QTest::newRow("with an exponent") << QByteArray("1e3") << qint64(1000);
        QTest::newRow("exponent at the bottom")
            << QByteArray("-9.223372036854775808e18") << std::numeric_limits<qint64>::min();
    }

    void integers()
    {
        QFETCH(QByteArray, text);
        QFETCH(qint64, expected);
        QCOMPARE(decodeOk(reply(u"servicesTotal"_s, text)).servicesTotal, expected);
    }

    void escapes_data()
    {
        QTest::addColumn<QByteArray>("text"); // a JSON string, quotes included
        QTest::addColumn<QString>("expected");
        QTest::newRow("solidus") << QByteArray(R"("a\/b")") << u"a/b"_s;
        QTest::newRow("short escapes") << QByteArray(R"("\"\\\b\f\n\r\t")") << u"\"\\\b\f\n\r\t"_s;
        QTest::newRow("upper-case hex") << QByteArray(R"("\u4E1C\u4eac")") << u"东京"_s;
        QTest::newRow("surrogate pair")
            << QByteArray(R"("\ud83d\ude00")") << QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("raw UTF-8") << QByteArray("\"\xE4\xB8\x9C\xF0\x9F\x98\x80\"")
                                   << u"东"_s + QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("escaped NUL") << QByteArray(R"("a\u0000b")") << QString(u"a\0b"_s);
    }

    void escapes()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        const MetricsSnapshot m = decodeOk(reply(u"network"_s, "{\"hostname\":" + text + "}"));
        QCOMPARE(m.network->hostname, expected);
    }

    void absentDiffersFromEmpty()
    {
        const MetricsSnapshot plain = decodeOk(reply());
        QVERIFY(!plain.hardware && !plain.notices && !plain.network);
        QCOMPARE(decodeOk(reply(u"hardware"_s, "null")), plain);
        QVERIFY(decodeOk(reply(u"hardware"_s, "{}")).hardware.has_value());

        const MetricsSnapshot emptyNotices = decodeOk(reply(u"notices"_s, "[]"));
        QVERIFY(emptyNotices.notices && emptyNotices.notices->isEmpty());
        QVERIFY(emptyNotices != plain && qHash(emptyNotices) != qHash(plain));

        const MetricsSnapshot renamed = decodeOk(
            reply(u"network"_s, R"({"addresses":[{"address":"a","scope":"s","interfaceName":"eth0"}]})"));
        QVERIFY(!renamed.network->addresses->at(0).interfaceName);
    }

    void timestampsAreInstants()
    {
        const auto at = [](const char *text) { return decodeOk(reply(u"observedAt"_s, text)).observedAt; };
        QCOMPARE(at(R"("2026-12-06T18:00:00+08:00")"), at(R"("2026-12-06T10:00:00Z")"));
        QCOMPARE(at(R"("2026-12-06T05:30:00-04:30")"), at(R"("2026-12-06T10:00:00Z")"));
        QCOMPARE(at(R"("2026-12-06T10:00:00.5Z")").toMSecsSinceEpoch() % 1000, 500);
    }

    void status_data()
    {
        QTest::addColumn<QString>("alerts"); // severities, space-separated
        QTest::addColumn<QString>("notices");
        QTest::addColumn<NodeStatus>("expected");
        QTest::newRow("other words") << u"info Critical WARNING"_s << QString() << NodeStatus::online;
        QTest::newRow("warning") << u"info warning"_s << QString() << NodeStatus::warning;
        QTest::newRow("warning then critical") << u"warning critical"_s << QString() << NodeStatus::critical;
        QTest::newRow("critical then warning") << u"critical warning"_s << QString() << NodeStatus::critical;
        QTest::newRow("notices never count") << u"warning"_s << u"critical"_s << NodeStatus::warning;
    }

    void status()
    {
        QFETCH(QString, alerts);
        QFETCH(QString, notices);
        QFETCH(NodeStatus, expected);
        MetricsSnapshot m{.notices = QList<ServerAlert>()};
        for (const QString &s : alerts.split(u' ', Qt::SkipEmptyParts))
            m.alerts.append(alert(s));
        for (const QString &s : notices.split(u' ', Qt::SkipEmptyParts))
            m.notices->append(alert(s));
        QCOMPARE(m.status(), expected);
    }

    void statusNames()
    {
        const std::pair<NodeStatus, QString> names[] = {{NodeStatus::online, u"online"_s},
                                                        {NodeStatus::warning, u"warning"_s},
                                                        {NodeStatus::critical, u"critical"_s},
                                                        {NodeStatus::offline, u"offline"_s}};
        for (const auto &[status, name] : names) {
            QCOMPARE(statusName(status), name);
            QCOMPARE(statusFromName(name), status);
            QVERIFY(!statusFromName(name.toUpper()) && !statusFromName(QString(name + u' ')));
        }
    }

    // The empty reading is one shared object; a record that never answered holds it and is offline.
    void emptyIsShared()
    {
        const MetricsSnapshot &e = MetricsSnapshot::empty();
        QVERIFY(e.observedAt.isValid() && &e == &MetricsSnapshot::empty());
        QCOMPARE(e, MetricsSnapshot{.observedAt = e.observedAt});
        QTest::qWait(5);
        const NodeRuntime a{.node = ServerNode{u"a"_s, u"A"_s, {}, {}}};
        QCOMPARE(a.status, NodeStatus::offline);
        QCOMPARE(a.metrics.observedAt, e.observedAt);
    }

    void encodeRoundTrip()
    {
        const QByteArray body = reply(u"hardware"_s, R"({"cpu":{"cores":4,"model":"x"},"storage":{}})");
        const MetricsSnapshot m = decodeOk(body);
        const QJsonObject encoded = encodeSnapshot(m);
        QVERIFY(!encoded.contains(u"network"_s));
        QVERIFY(!encoded.value(u"hardware"_s).toObject().value(u"cpu"_s).toObject().contains(u"threads"_s));
        QCOMPARE(decodeOk(QJsonDocument(encoded).toJson()), m);
    }
};

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
