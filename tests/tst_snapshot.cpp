// SPDX-License-Identifier: MIT
#include "model/NodeRuntime.h"
#include "model/SnapshotEncoder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

const QByteArray goodAlert = R"({"id":"3f2504e0-4f89-11d3-9a0c-0305e82c3301","severity":"warning",
    "title":"t","detail":"d","createdAt":"2026-12-06T10:00:00.500Z"})";

// Every optional member, with string escapes (moc misreads a backslash before a quote in a raw string).
const QByteArray otherMembers = R"("hardware":{"cpu":{"cores":4,"threads":8,"model":"x","temperatureC":50},
    "memory":{"totalBytes":10000000000,"availableBytes":1,"usedBytes":2},
    "storage":{"root":{"totalBytes":1,"freeBytes":1,"usedBytes":0,"temperatureC":30.5}},
    "hottestTemperatureC":70,"hottestSensor":{"name":"a","chip":"b","temperatureC":70}},
    "network":{"hostname":"a\/b\\\b\f\n\r\t\u4E1C\u4eac\ud83d\ude00东😀\u0000b",
    "addresses":[{"address":"::1","scope":"host","interface":"lo"}],"lan":["10.0.0.2"],
    "tailscale":["fd7a:115c:a1e0::1"]})";

// A minimal valid reply with one member replaced (or removed when value is null); the value may
// carry further members after it.
QByteArray reply(const QString &key = {}, const QByteArray &value = {})
{
    QJsonObject o = QJsonDocument::fromJson(R"({"cpuUsage":1.5,"memoryUsage":2,"diskUsage":3,
        "uptimeSeconds":4,"loadAverage":0.5,"servicesRunning":5,"servicesTotal":6,"alerts":[],
        "observedAt":"2026-12-06T10:00:00.000Z"})")
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
        QTest::newRow("nesting 1024 deep")
            << reply(u"x"_s, QByteArray(1023, '[') + QByteArray(1023, ']')) << QString();
        QTest::newRow("nesting 1025 deep") << reply(u"x"_s, QByteArray(1024, '[') + QByteArray(1024, ']'))
                                           << u"JSON nesting deeper than 1024 levels"_s;
        QTest::newRow("null required") << reply(u"alerts"_s, "null") << u"$.alerts: required value is null"_s;
        QTest::newRow("fraction for integer")
            << reply(u"servicesRunning"_s, "3.5") << u"$.servicesRunning: expected an integer"_s;
        QTest::newRow("integer just above 64 bits")
            << reply(u"servicesTotal"_s, "9223372036854775808")
            << u"$.servicesTotal: integer out of the signed 64-bit range"_s;
        QTest::newRow("integer just below 64 bits")
            << reply(u"servicesTotal"_s, "-9223372036854775809")
            << u"integer out of the 64-bit range: -9223372036854775809"_s;
        QTest::newRow("exponent at 2^63") << reply(u"servicesTotal"_s, "9.223372036854775808e18")
                                          << u"$.servicesTotal: integer out of the signed 64-bit range"_s;
        QTest::newRow("exponent beyond 64 bits")
            << reply(u"servicesTotal"_s, "-1e19")
            << u"$.servicesTotal: integer out of the signed 64-bit range"_s;
        QTest::newRow("number beyond double") << reply(u"cpuUsage"_s, "1e400") << u"number overflow"_s;
        // Places count characters: the 4th is the unknown escape.
        QTest::newRow("unknown escape in a key")
            << QByteArray(R"({"\cpuUsage":77})") << u"JSON syntax error at line 1, column 4"_s;
        // Text that lenient readers repair. Each is refused as a syntax error.
        for (const char *value : {".5", "1.", "01", "+1", "0x10", "NaN", "[1,]", "{\"a\":1,}", "{'a':1}",
                                  "\"\\x41\"", "\"\\ud800\"", "\"a\tb\""})
            QTest::addRow("lenient %s", value) << reply(u"x"_s, value) << u"JSON syntax error at line 1"_s;
        QTest::newRow("invalid UTF-8") << reply(u"x"_s, "\"\xc3\x28\"") << u"UTF-8"_s;
        QTest::newRow("value after the value") << reply() + " {}" << u"JSON syntax error at line 1"_s;
        // A number, no zone, a space for T, February 30, a bad offset, an empty fraction.
        for (const char *at :
             {"1733480000", R"("2026-12-06T10:00:00")", R"("2026-12-06 10:00:00Z")",
              R"("2026-02-30T10:00:00Z")", R"("2026-12-06T10:00:00+0800")", R"("2026-12-06T10:00:00.Z")"})
            QTest::addRow("timestamp %s", at) << reply(u"observedAt"_s, at) << u"RFC 3339"_s;
        QTest::newRow("braced uuid")
            << reply(u"alerts"_s,
                     "[" + QByteArray(goodAlert).replace("\"3f", "\"{3f").replace("01\"", "01}\"") + "]")
            << u"$.alerts[0].id: expected a UUID string"_s;
        QTest::newRow("second alert lacks id")
            << reply(u"alerts"_s, "[" + goodAlert + ",{}]") << u"$.alerts[1].id: required value missing"_s;
        QTest::newRow("nested optional of wrong kind")
            << reply(u"hardware"_s, R"({"storage":{"root":{"freeBytes":"1"}}})")
            << u"$.hardware.storage.root.freeBytes: expected a number"_s;
        QTest::newRow("text list with number")
            << reply(u"network"_s, R"({"lan":["a",1]})") << u"$.network.lan[1]: expected a string"_s;
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

    // Every member is read under its own name and written back the same way; absent optionals stay
    // out, an empty list stays in. Escapes and raw UTF-8 are judged against Qt's own reader.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("minimal") << reply();
        QTest::newRow("largest integer") << reply(u"servicesTotal"_s, "9223372036854775807");
        QTest::newRow("smallest integer") << reply(u"servicesTotal"_s, "-9223372036854775808");
        QTest::newRow("integer with an exponent") << reply(u"servicesTotal"_s, "1e3");
        QTest::newRow("exponent at the bottom") << reply(u"servicesTotal"_s, "-9.223372036854775808e18");
        QTest::newRow("empty optionals")
            << reply(u"notices"_s, R"([],"hardware":{"cpu":{"cores":4},"storage":{}})");
        QTest::newRow("every member")
            << reply(u"alerts"_s, "[" + goodAlert + "],\"notices\":[" + goodAlert + "]," + otherMembers);
    }

    void roundTrip()
    {
        QFETCH(QByteArray, body);
        const QJsonObject source = QJsonDocument::fromJson(body).object();
        QVERIFY(!source.isEmpty());
        QCOMPARE(encodeSnapshot(decodeOk(body)), source);
    }

    void absentDiffersFromEmpty()
    {
        const MetricsSnapshot plain = decodeOk(reply());
        QCOMPARE(decodeOk(reply(u"hardware"_s, "null")), plain);
        const MetricsSnapshot emptyNotices = decodeOk(reply(u"notices"_s, "[]"));
        QVERIFY(emptyNotices != plain && qHash(emptyNotices) != qHash(plain));
    }

    void timestampsAreInstants()
    {
        const auto at = [](const char *text) { return decodeOk(reply(u"observedAt"_s, text)).observedAt; };
        QCOMPARE(at(R"("2026-12-06T18:00:00+08:00")"), at(R"("2026-12-06T10:00:00Z")"));
        QCOMPARE(at(R"("2026-12-06T05:30:00-04:30")"), at(R"("2026-12-06T10:00:00Z")"));
    }

    void status_data()
    {
        QTest::addColumn<QString>("alerts"); // severities, space-separated
        QTest::addColumn<QString>("notices");
        QTest::addColumn<NodeStatus>("expected");
        QTest::newRow("other words") << u"info Critical WARNING"_s << QString() << NodeStatus::online;
        QTest::newRow("warning") << u"info warning"_s << QString() << NodeStatus::warning;
        QTest::newRow("critical among warnings")
            << u"warning critical warning"_s << QString() << NodeStatus::critical;
        QTest::newRow("notices never count") << u"warning"_s << u"critical"_s << NodeStatus::warning;
    }

    void status()
    {
        QFETCH(QString, alerts);
        QFETCH(QString, notices);
        QFETCH(NodeStatus, expected);
        MetricsSnapshot m{.notices = QList<ServerAlert>()};
        for (const QString &s : alerts.split(u' ', Qt::SkipEmptyParts))
            m.alerts.append(makeAlert(s, u"t"_s, u"d"_s, {}));
        for (const QString &s : notices.split(u' ', Qt::SkipEmptyParts))
            m.notices->append(makeAlert(s, u"t"_s, u"d"_s, {}));
        QCOMPARE(m.status(), expected);
    }

    // Names go both ways for exactly the four texts.
    void statusNames()
    {
        const QString names[] = {u"online"_s, u"warning"_s, u"critical"_s, u"offline"_s};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(statusName(NodeStatus(i)), names[i]);
            QCOMPARE(statusFromName(names[i]), NodeStatus(i));
            QVERIFY(!statusFromName(names[i].toUpper()) && !statusFromName(QString(names[i] + u' ')));
        }
    }

    // The empty reading is one shared object; a record that never answered holds it and is offline.
    void emptyIsShared()
    {
        const MetricsSnapshot &e = MetricsSnapshot::empty();
        QVERIFY(e.observedAt.isValid() && &e == &MetricsSnapshot::empty());
        QTest::qWait(5);
        const NodeRuntime a{.node = ServerNode{u"a"_s, u"A"_s, {}, {}}};
        QCOMPARE(a.status, NodeStatus::offline);
        QCOMPARE(a.metrics, e);
    }
};

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
