#include "FakeAgent.h"
#include "StoreFixture.h"
#include "store/DemoMetrics.h"
#include "store/MonitorStore.h"

#include <QSignalSpy>
#include <QTest>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

class DemoMetricsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void figures_data();
    void figures();
    void freshAlertsOnEveryCall();
    void storeCycleTicksAndClearsErrors();
    void demoCycleNotifications();
};

void DemoMetricsTest::figures_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("tick");
    QTest::addColumn<double>("cpu");
    QTest::addColumn<double>("memory");
    QTest::addColumn<double>("disk");
    QTest::addColumn<double>("uptime");
    QTest::addColumn<qint64>("running");
    QTest::addColumn<QStringList>("alerts"); // severity|title|detail

    QTest::newRow("first cycle, position 0")
        << 0 << 1 << 40.2167 << 59.6748 << 62.0 << 864010.0 << qint64(6) << QStringList{};
    QTest::newRow("first cycle, position 1")
        << 1 << 1 << 61.4668 << 61.1419 << 78.0 << 421210.0 << qint64(6) << QStringList{};
    QTest::newRow("first cycle, position 2") << 2 << 1 << 65.7386 << 59.25 << 91.0 << 129610.0 << qint64(5)
                                             << QStringList{u"warning|磁盘空间偏高|根分区使用率已达到 91%"_s};
    QTest::newRow("position 3 just below the CPU alert")
        << 3 << 12 << 73.4827 << 68.2381 << 62.0 << 864120.0 << qint64(6) << QStringList{};
    QTest::newRow("position 3 gets the CPU alert")
        << 3 << 13 << 77.4824 << 70.9035 << 62.0 << 864130.0 << qint64(6)
        << QStringList{u"critical|CPU 使用率过高|过去采样周期平均 77%"_s};
    QTest::newRow("position 5 runs all services")
        << 5 << 1 << 63.5467 << 68.0403 << 91.0 << 129610.0 << qint64(6)
        << QStringList{u"warning|磁盘空间偏高|根分区使用率已达到 91%"_s};
}

void DemoMetricsTest::figures()
{
    QFETCH(int, position);
    QFETCH(int, tick);
    QFETCH(double, cpu);
    QFETCH(double, memory);
    QFETCH(double, disk);
    QFETCH(double, uptime);
    QFETCH(qint64, running);
    QFETCH(QStringList, alerts);

    const QDateTime now = QDateTime::currentDateTime();
    MetricsSnapshot m = demoMetrics(position, tick, now);
    QVERIFY2(qAbs(m.cpuUsage - cpu) < 5e-5 && qAbs(m.memoryUsage - memory) < 5e-5,
             qPrintable(u"%1 %2"_s.arg(m.cpuUsage, 0, 'f', 6).arg(m.memoryUsage, 0, 'f', 6)));
    QStringList got;
    for (const ServerAlert &a : std::as_const(m.alerts)) {
        got << a.severity + u'|' + a.title + u'|' + a.detail;
        QCOMPARE(a.createdAt, now);
    }
    QCOMPARE(got, alerts);
    // Every other figure is exact.
    MetricsSnapshot expected{m.cpuUsage, m.memoryUsage, disk, uptime, m.cpuUsage / 100 * 3.8, running,
                             6,          m.alerts,      now};
    QCOMPARE(m, expected);
}

void DemoMetricsTest::freshAlertsOnEveryCall()
{
    const QDateTime now = QDateTime::currentDateTime();
    const MetricsSnapshot first = demoMetrics(2, 4, now);
    MetricsSnapshot second = demoMetrics(2, 4, now.addMSecs(5));
    QCOMPARE(first.alerts.size(), 1);
    QVERIFY(first.alerts[0].id != second.alerts[0].id && !first.alerts[0].id.isNull());
    QCOMPARE(second.alerts[0].createdAt, now.addMSecs(5));
    // Apart from ids and times the readings are the same.
    second.alerts[0] = first.alerts[0];
    second.observedAt = first.observedAt;
    QCOMPARE(second, first);
}

// Addresses that are not URLs: a live cycle over them fails every node without any traffic.
static QList<ServerNode> unreachableNodes()
{
    return {{u"a"_s, u"A"_s, QString(), QString()},
            {u"b"_s, u"B"_s, QString(), QString()},
            {u"c"_s, u"C"_s, QString(), QString()}};
}

void DemoMetricsTest::storeCycleTicksAndClearsErrors()
{
    TempNodeFiles files(unreachableNodes());
    MonitorStore store(files.locations());

    // A live cycle is still running when demo mode is switched on, so its failures land on the
    // demo records: the next demo cycle must clear them.
    store.refresh();
    store.apply(unreachableNodes(), true);
    QVERIFY(waitIdle(store));
    QCOMPARE(store.tick(), 0); // the demo refresh asked for by apply was dropped
    for (const NodeRuntime &r : store.nodes())
        QCOMPARE(r.errorMessage, u"地址格式无效"_s);

    store.refresh();
    QCOMPARE(store.tick(), 1);
    QVERIFY(!store.isRefreshing());
    for (qsizetype i = 0; i < store.nodes().size(); ++i) {
        const NodeRuntime &r = store.nodes()[i];
        QVERIFY(!r.errorMessage);
        QCOMPARE(r.metrics.cpuUsage, demoMetrics(i, 1, {}).cpuUsage);
        QCOMPARE(r.status, i == 2 ? NodeStatus::warning : NodeStatus::online);
    }

    store.refresh();
    QCOMPARE(store.tick(), 2);

    // Off and on again: the counter carries on.
    store.apply(unreachableNodes(), false);
    QVERIFY(waitIdle(store));
    QCOMPARE(store.tick(), 2);
    store.apply(unreachableNodes(), true);
    QCOMPARE(store.tick(), 3);
    QCOMPARE(store.nodes()[0].metrics.cpuUsage, demoMetrics(0, 3, {}).cpuUsage);
}

void DemoMetricsTest::demoCycleNotifications()
{
    FakeAgent agent;
    const QList<ServerNode> nodes{{u"a"_s, u"A"_s, agent.url(), u"t"_s},
                                  {u"b"_s, u"B"_s, agent.url(), u"t"_s},
                                  {u"c"_s, u"C"_s, agent.url(), u"t"_s}};
    TempNodeFiles files(nodes);
    MonitorStore store(files.locations());
    store.apply(nodes, true);

    QList<bool> refreshingSeen;
    connect(&store, &MonitorStore::objectWillChange, this,
            [&] { refreshingSeen.append(store.isRefreshing()); });
    const auto before = store.lastUpdated();
    QTest::qSleep(5);
    store.refresh();

    // isRefreshing, three assignments per record, lastUpdated, isRefreshing: each told beforehand.
    QCOMPARE(refreshingSeen.size(), 3 + 3 * 3);
    QCOMPARE(refreshingSeen.first(), false);
    QCOMPARE(refreshingSeen.last(), true);
    QVERIFY(store.lastUpdated() && store.lastUpdated() != before);
    QTest::qWait(50);
    QVERIFY(agent.requests().isEmpty()); // demo mode never touches the network
}

QTEST_GUILESS_MAIN(DemoMetricsTest)
#include "tst_demometrics.moc"
