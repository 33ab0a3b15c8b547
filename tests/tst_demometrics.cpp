// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "store/DemoMetrics.h"
#include "store/MonitorStore.h"

#include <QTest>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

static QStringList describe(const QList<ServerAlert> &alerts, const QDateTime &now)
{
    QStringList out;
    for (const ServerAlert &a : alerts)
        out << a.severity + u'|' + a.title + u'|' + a.detail + (a.createdAt == now ? u""_s : u" (time)"_s);
    return out;
}

class DemoMetricsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void figures_data()
    {
        QTest::addColumn<QList<double>>("row");  // position, tick, cpu, memory, disk, uptime, running
        QTest::addColumn<QStringList>("alerts"); // severity|title|detail
        const QStringList disk{u"warning|磁盘空间偏高|根分区使用率已达到 91%"_s};
        const QStringList cpu{u"critical|CPU 使用率过高|过去采样周期平均 77%"_s};
        QTest::newRow("position 1") << QList<double>{1, 1, 61.4668, 61.1419, 78, 421210, 6} << QStringList{};
        QTest::newRow("position 2") << QList<double>{2, 1, 65.7386, 59.25, 91, 129610, 5} << disk;
        // Position 3 at tick 13 raises the CPU alert; position 5 runs all services.
        QTest::newRow("position 3") << QList<double>{3, 13, 77.4824, 70.9035, 62, 864130, 6} << cpu;
        QTest::newRow("position 5") << QList<double>{5, 1, 63.5467, 68.0403, 91, 129610, 6} << disk;
    }
    void figures()
    {
        QFETCH(QList<double>, row);
        QFETCH(QStringList, alerts);
        const QDateTime now = QDateTime::currentDateTime();
        const MetricsSnapshot m = demoMetrics(qint64(row[0]), qint64(row[1]), now);
        QVERIFY(qAbs(m.cpuUsage - row[2]) < 5e-5 && qAbs(m.memoryUsage - row[3]) < 5e-5);
        QCOMPARE(describe(m.alerts, now), alerts);
        // Every other figure is exact.
        QCOMPARE(m, (MetricsSnapshot{m.cpuUsage, m.memoryUsage, row[4], row[5], m.cpuUsage / 100 * 3.8,
                                     qint64(row[6]), 6, m.alerts, now}));
        // Each call raises its alerts anew.
        QVERIFY(m.alerts.isEmpty() ||
                demoMetrics(qint64(row[0]), qint64(row[1]), now).alerts[0].id != m.alerts[0].id);
    }

    // Each alert is raised at its figure and above it.
    void alertThresholds()
    {
        QCOMPARE(describe(demoAlerts({.cpuUsage = 74.99, .diskUsage = 89.99}, {}), {}), QStringList());
        QCOMPARE(describe(demoAlerts({.cpuUsage = 75, .diskUsage = 90}, {}), {}),
                 (QStringList{u"warning|磁盘空间偏高|根分区使用率已达到 90%"_s,
                              u"critical|CPU 使用率过高|过去采样周期平均 75%"_s}));
    }

    void storeCycle()
    {
        FakeAgent agent;
        const QList<ServerNode> nodes{
            {u"a"_s, {}, agent.url(), {}}, {u"b"_s, {}, agent.url(), {}}, {u"c"_s, {}, agent.url(), {}}};
        TempNodeFiles files(nodes);
        MonitorStore store(files.locations());
        // A live cycle is still running when demo mode is switched on, so its failures land on the
        // demo records: the next demo cycle must clear them.
        store.refresh();
        store.apply(nodes, true);
        QVERIFY(waitIdle(store));
        QCOMPARE(store.tick(), 0);                  // the demo refresh asked for by apply was dropped
        QVERIFY(store.nodes().last().errorMessage); // the live failure landed on a demo record

        QList<int> seen; // isRefreshing as each change is told; 2 for the end of the cycle
        connect(&store, &MonitorStore::changed, this, [&] { seen << store.isRefreshing(); });
        connect(&store, &MonitorStore::cycleEnded, this, [&] { seen << 2; });
        store.refresh();
        // isRefreshing, three assignments per record, lastUpdated, isRefreshing, each told once it is
        // made; then the end of the cycle.
        QCOMPARE(seen, QList<int>(11, 1) + QList<int>({0, 2}));
        QCOMPARE(store.tick(), 1);
        for (const NodeRuntime &r : store.nodes())
            QVERIFY(!r.errorMessage);
        QVERIFY(qAbs(store.nodes()[1].metrics.cpuUsage - 61.4668) < 5e-5); // position 1 at tick 1
        QCOMPARE(store.nodes()[2].status, NodeStatus::warning);

        // Off and on again: the counter carries on.
        store.apply(nodes, false);
        QVERIFY(waitIdle(store));
        store.apply(nodes, true);
        QCOMPARE(store.tick(), 2);
        QCOMPARE(agent.requests().size(), 6); // the two live cycles only: demo mode never polls
    }
};

QTEST_GUILESS_MAIN(DemoMetricsTest)
#include "tst_demometrics.moc"
