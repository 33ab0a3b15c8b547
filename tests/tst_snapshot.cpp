#include "model/NodeRuntime.h"
#include "model/SnapshotEncoder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

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
    QByteArray body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    if (key.isEmpty()) return body;
    o.remove(key);
    body = QJsonDocument(o).toJson(QJsonDocument::Compact);
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
    void accepts_data();
    void accepts();
    void rejects_data();
    void rejects();
    void absentDiffersFromEmpty();
    void timestampsAreInstants();
    void status_data();
    void status();
    void statusNames();
    void emptyIsShared();
    void encodeRoundTrip();
};

void TestSnapshot::accepts_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("minimal") << reply();
    QTest::newRow("integral double for integer") << reply(u"servicesRunning"_s, "3.0");
    QTest::newRow("extra keys everywhere") << reply(u"hardware"_s, R"({"x":1,"cpu":{"y":[1]}})");
    QTest::newRow("null optionals") << reply(u"network"_s, R"({"hostname":null,"addresses":null})");
    QTest::newRow("lower-case uuid") << reply(
        u"alerts"_s, QByteArray("[") + QByteArray(goodAlert).replace("3F2504E0", "3f2504e0") + "]");
    QTest::newRow("offset zone") << reply(u"observedAt"_s, R"("2026-12-06T10:00:00+08:00")");
    QTest::newRow("fractional seconds") << reply(u"observedAt"_s, R"("2026-12-06T10:00:00.123456Z")");
    QTest::newRow("full hardware") << reply(u"hardware"_s,
                                            R"({"cpu":{"cores":4,"threads":8,"model":"x","temperatureC":50},
            "memory":{"totalBytes":1e10,"availableBytes":1,"usedBytes":2},
            "storage":{"root":{"totalBytes":1,"freeBytes":1,"usedBytes":0,"temperatureC":30.5}},
            "hottestTemperatureC":70,"hottestSensor":{"name":"a","chip":"b","temperatureC":70}})");
    QTest::newRow("address with interface")
        << reply(u"network"_s, R"({"addresses":[{"address":"::1","scope":"host","interface":"lo"}],
            "lan":[],"tailscale":["fd7a:115c:a1e0::1"]})");
}

void TestSnapshot::accepts()
{
    QFETCH(QByteArray, body);
    const auto r = decodeSnapshot(body);
    const QString *error = std::get_if<QString>(&r);
    QVERIFY2(!error, error ? qPrintable(*error) : "");
}

void TestSnapshot::rejects_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error"); // a part of the expected message
    QTest::newRow("empty body") << QByteArray() << u"at offset 0"_s;
    QTest::newRow("array at top") << QByteArray("[]") << u"$: expected an object"_s;
    QTest::newRow("missing required") << reply(u"cpuUsage"_s) << u"$.cpuUsage: required value missing"_s;
    QTest::newRow("null required") << reply(u"alerts"_s, "null") << u"$.alerts: required value is null"_s;
    QTest::newRow("missing observedAt") << reply(u"observedAt"_s) << u"$.observedAt"_s;
    QTest::newRow("string for double")
        << reply(u"cpuUsage"_s, R"("12")") << u"$.cpuUsage: expected a number"_s;
    QTest::newRow("fraction for integer") << reply(u"servicesRunning"_s, "3.5") << u"expected an integer"_s;
    QTest::newRow("integer beyond 64 bits")
        << reply(u"servicesTotal"_s, "9223372036854775808") << u"integer"_s;
    QTest::newRow("number beyond double") << reply(u"cpuUsage"_s, "1e400") << u"at offset"_s;
    // A number, a bare date, no zone, a space for T, no seconds, February 30, hour 24, a bad offset, an empty
    // fraction.
    for (const char *at :
         {"1733480000", R"("2026-12-06")", R"("2026-12-06T10:00:00")", R"("2026-12-06 10:00:00Z")",
          R"("2026-12-06T10:00Z")", R"("2026-02-30T10:00:00Z")", R"("2026-12-06T24:00:00Z")",
          R"("2026-12-06T10:00:00+0800")", R"("2026-12-06T10:00:00.Z")"})
        QTest::addRow("timestamp %s", at) << reply(u"observedAt"_s, at) << u"RFC 3339"_s;
    QTest::newRow("braced uuid")
        << reply(u"alerts"_s, QByteArray("[") +
                                  QByteArray(goodAlert).replace("\"3F", "\"{3F").replace("01\"", "01}\"") +
                                  "]")
        << u"$.alerts[0].id: expected a UUID string"_s;
    QTest::newRow("uuid without hyphens")
        << reply(u"alerts"_s, R"([{"id":"3F2504E04F8911D39A0C0305E82C3301","severity":"warning","title":"t",
            "detail":"d","createdAt":"2026-12-06T10:00:00Z"}])")
        << u"$.alerts[0].id"_s;
    QTest::newRow("alert lacks detail")
        << reply(u"alerts"_s, QByteArray("[") + goodAlert + R"(,{"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301",
            "severity":"warning","title":"t","createdAt":"2026-12-06T10:00:00Z"}])")
        << u"$.alerts[1].detail: required value missing"_s;
    QTest::newRow("alert not an object") << reply(u"alerts"_s, "[1]") << u"$.alerts[0]: expected an object"_s;
    QTest::newRow("optional section of wrong kind") << reply(u"hardware"_s, R"("fast")") << u"$.hardware"_s;
    QTest::newRow("nested optional of wrong kind")
        << reply(u"hardware"_s, R"({"storage":{"root":{"freeBytes":"1"}}})")
        << u"$.hardware.storage.root.freeBytes: expected a number"_s;
    QTest::newRow("fractional cores") << reply(u"hardware"_s, R"({"cpu":{"cores":2.5}})") << u"cores"_s;
    QTest::newRow("address lacks scope")
        << reply(u"network"_s, R"({"addresses":[{"address":"::1"}]})") << u"$.network.addresses[0].scope"_s;
    QTest::newRow("text list with number")
        << reply(u"network"_s, R"({"lan":["a",1]})") << u"$.network.lan[1]"_s;
    QTest::newRow("notices not a list") << reply(u"notices"_s, "{}") << u"$.notices: expected an array"_s;
}

void TestSnapshot::rejects()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    const auto r = decodeSnapshot(body);
    const QString *actual = std::get_if<QString>(&r);
    QVERIFY(actual);
    QVERIFY2(actual->contains(error), qPrintable(*actual));
}

void TestSnapshot::absentDiffersFromEmpty()
{
    const MetricsSnapshot plain = decodeOk(reply());
    QVERIFY(!plain.hardware && !plain.notices && !plain.network);
    QCOMPARE(decodeOk(reply(u"hardware"_s, "null")), plain);

    QVERIFY(decodeOk(reply(u"hardware"_s, "{}")).hardware.has_value());

    const MetricsSnapshot emptyNotices = decodeOk(reply(u"notices"_s, "[]"));
    QVERIFY(emptyNotices.notices && emptyNotices.notices->isEmpty());
    QVERIFY(emptyNotices != plain);
    QVERIFY(qHash(emptyNotices) != qHash(plain));

    const MetricsSnapshot renamed = decodeOk(
        reply(u"network"_s, R"({"addresses":[{"address":"a","scope":"s","interfaceName":"eth0"}]})"));
    QVERIFY(!renamed.network->addresses->at(0).interfaceName);

    QCOMPARE(decodeOk(reply(u"cpuUsage"_s, "12")).cpuUsage, 12.0);
    QCOMPARE(decodeOk(reply(u"servicesRunning"_s, "1e3")).servicesRunning, 1000);
    QCOMPARE(qHash(decodeOk(reply())), qHash(plain));
}

void TestSnapshot::timestampsAreInstants()
{
    const auto at = [](const char *text) { return decodeOk(reply(u"observedAt"_s, text)).observedAt; };
    QCOMPARE(at(R"("2026-12-06T18:00:00+08:00")"), at(R"("2026-12-06T10:00:00Z")"));
    QCOMPARE(at(R"("2026-12-06T05:30:00-04:30")"), at(R"("2026-12-06T10:00:00Z")"));
    QCOMPARE(at(R"("2026-12-06T10:00:00.5Z")").toMSecsSinceEpoch() % 1000, 500);
}

void TestSnapshot::status_data()
{
    QTest::addColumn<QStringList>("alerts");
    QTest::addColumn<QStringList>("notices");
    QTest::addColumn<NodeStatus>("expected");
    QTest::newRow("none") << QStringList() << QStringList() << NodeStatus::online;
    QTest::newRow("other words") << QStringList{u"info"_s, u"Critical"_s, u"WARNING"_s} << QStringList()
                                 << NodeStatus::online;
    QTest::newRow("warning") << QStringList{u"info"_s, u"warning"_s} << QStringList() << NodeStatus::warning;
    QTest::newRow("warning then critical")
        << QStringList{u"warning"_s, u"critical"_s} << QStringList() << NodeStatus::critical;
    QTest::newRow("critical then warning")
        << QStringList{u"critical"_s, u"warning"_s} << QStringList() << NodeStatus::critical;
    QTest::newRow("notices never count")
        << QStringList{u"warning"_s} << QStringList{u"critical"_s} << NodeStatus::warning;
}

void TestSnapshot::status()
{
    QFETCH(QStringList, alerts);
    QFETCH(QStringList, notices);
    QFETCH(NodeStatus, expected);
    MetricsSnapshot m;
    for (const QString &s : alerts)
        m.alerts.append(alert(s));
    m.notices = QList<ServerAlert>();
    for (const QString &s : notices)
        m.notices->append(alert(s));
    QCOMPARE(m.status(), expected);
}

void TestSnapshot::statusNames()
{
    for (NodeStatus s : {NodeStatus::online, NodeStatus::warning, NodeStatus::critical, NodeStatus::offline})
        QCOMPARE(statusFromName(statusName(s)), s);
    QCOMPARE(statusName(NodeStatus::critical), u"critical"_s);
    QVERIFY(!statusFromName(u"Online") && !statusFromName(u"online ") && !statusFromName(u""));
}

void TestSnapshot::emptyIsShared()
{
    const MetricsSnapshot &e = MetricsSnapshot::empty();
    QCOMPARE(&e, &MetricsSnapshot::empty());
    QVERIFY(e.observedAt.isValid());
    QCOMPARE(e, (MetricsSnapshot{.observedAt = e.observedAt}));
    QCOMPARE(e.status(), NodeStatus::online); // a record holding it is offline by its own field

    QTest::qWait(5);
    const NodeRuntime a{.node = ServerNode{u"a"_s, u"A"_s, {}, {}}};
    const NodeRuntime b{.node = ServerNode{u"b"_s, u"B"_s, {}, {}}};
    QCOMPARE(a.status, NodeStatus::offline);
    QCOMPARE(a.metrics.observedAt, b.metrics.observedAt);
    QCOMPARE(a.id(), u"a"_s);
}

void TestSnapshot::encodeRoundTrip()
{
    const QByteArray body = reply(u"hardware"_s, R"({"cpu":{"cores":4,"model":"x"},"storage":{}})");
    const MetricsSnapshot m = decodeOk(body);
    const QJsonObject encoded = encodeSnapshot(m);
    QVERIFY(!encoded.contains(u"network"_s));
    QVERIFY(!encoded.value(u"hardware"_s).toObject().value(u"cpu"_s).toObject().contains(u"threads"_s));
    QCOMPARE(decodeOk(QJsonDocument(encoded).toJson()), m);
}

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
