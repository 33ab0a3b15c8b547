// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "store/DemoMetrics.h"
#include "store/MonitorStore.h"

#include <QSignalSpy>
#include <QTest>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

namespace {

QStringList describe(const QList<ServerAlert> &alerts, const QDateTime &now)
{
    QStringList out;
    for (const ServerAlert &a : alerts)
        out << a.severity + u'|' + a.title + u'|' + a.detail + (a.createdAt == now ? u""_s : u" (time)"_s);
    return out;
}

} // namespace

class DemoMetricsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void figures_data()
    {
        QTest::addColumn<QList<double>>("args"); // position, tick, cpu, memory, disk, uptime, running
        QTest::addColumn<QStringList>("alerts"); // severity|title|detail
        const QStringList disk{u"warning|磁盘空间偏高|根分区使用率已达到 91%"_s};
        QTest::newRow("position 0") << QList<double>{0, 1, 40.2167, 59.6748, 62, 864010, 6} << QStringList{};
        QTest::newRow("position 1") << QList<double>{1, 1, 61.4668, 61.1419, 78, 421210, 6} << QStringList{};
        QTest::newRow("position 2") << QList<double>{2, 1, 65.7386, 59.25, 91, 129610, 5} << disk;
        QTest::newRow("position 3 with the CPU alert")
            << QList<double>{3, 13, 77.4824, 70.9035, 62, 864130, 6}
            << QStringList{u"critical|CPU 使用率过高|过去采样周期平均 77%"_s};
        QTest::newRow("position 5 runs all services")
            << QList<double>{5, 1, 63.5467, 68.0403, 91, 129610, 6} << disk;
    }
    void figures()
    {
        QFETCH(QList<double>, args);
        QFETCH(QStringList, alerts);
        const QDateTime now = QDateTime::currentDateTime();
        const MetricsSnapshot m = demoMetrics(qint64(args[0]), qint64(args[1]), now);
        QVERIFY2(qAbs(m.cpuUsage - args[2]) < 5e-5 && qAbs(m.memoryUsage - args[3]) < 5e-5,
                 qPrintable(u"%1 %2"_s.arg(m.cpuUsage, 0, 'f', 6).arg(m.memoryUsage, 0, 'f', 6)));
        QCOMPARE(describe(m.alerts, now), alerts);
        // Every other figure is exact.
        const MetricsSnapshot expected{
            m.cpuUsage, m.memoryUsage, args[4], args[5], m.cpuUsage / 100 * 3.8, qint64(args[6]),
            6,          m.alerts,      now};
        QCOMPARE(m, expected);
    }

    // The alert lines themselves: each is raised at its figure and above it.
    void alerts_data()
    {
        QTest::addColumn<double>("cpu");
        QTest::addColumn<double>("disk");
        QTest::addColumn<QStringList>("expected");
        const QString cpu = u"critical|CPU 使用率过高|过去采样周期平均 "_s;
        const QString disk = u"warning|磁盘空间偏高|根分区使用率已达到 "_s;
        QTest::newRow("74.99 and 89.99") << 74.99 << 89.99 << QStringList{};
        QTest::newRow("75 and 90") << 75.0 << 90.0 << QStringList{disk + u"90%"_s, cpu + u"75%"_s};
        QTest::newRow("96 and 91.7") << 96.0 << 91.7 << QStringList{disk + u"91%"_s, cpu + u"96%"_s};
    }
    void alerts()
    {
        QFETCH(double, cpu);
        QFETCH(double, disk);
        QFETCH(QStringList, expected);
        MetricsSnapshot m;
        m.cpuUsage = cpu;
        m.diskUsage = disk;
        const QDateTime now = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
        QCOMPARE(describe(demoAlerts(m, now), now), expected);
    }

    void freshAlertsOnEveryCall()
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

    void storeCycle()
    {
        FakeAgent agent;
        agent.answer(500, {});
        QList<ServerNode> nodes{{u"a"_s, u"A"_s, agent.url(), {}},
                                {u"b"_s, u"B"_s, agent.url(), {}},
                                {u"c"_s, u"C"_s, agent.url(), {}}};
        TempNodeFiles files(nodes);
        MonitorStore store(files.locations());
        // A live cycle is still running when demo mode is switched on, so its failures land on the
        // demo records: the next demo cycle must clear them.
        store.refresh();
        store.apply(nodes, true);
        QVERIFY(waitIdle(store));
        QCOMPARE(store.tick(), 0); // the demo refresh asked for by apply was dropped
        for (const NodeRuntime &r : store.nodes())
            QCOMPARE(r.errorMessage, u"HTTP 响应异常"_s);

        QList<bool> refreshingSeen;
        connect(&store, &MonitorStore::objectWillChange, this,
                [&] { refreshingSeen.append(store.isRefreshing()); });
        store.refresh();
        // isRefreshing, three assignments per record, lastUpdated, isRefreshing: each told beforehand.
        QCOMPARE(refreshingSeen,
                 QList<bool>({false, true, true, true, true, true, true, true, true, true, true, true}));
        QCOMPARE(store.tick(), 1);
        QVERIFY(!store.isRefreshing() && store.lastUpdated());
        const double cpuAtTick1[] = {40.2167, 61.4668, 65.7386};
        for (qsizetype i = 0; i < store.nodes().size(); ++i) {
            const NodeRuntime &r = store.nodes()[i];
            QVERIFY(!r.errorMessage);
            QVERIFY(qAbs(r.metrics.cpuUsage - cpuAtTick1[i]) < 5e-5);
            QCOMPARE(r.status, i == 2 ? NodeStatus::warning : NodeStatus::online);
        }
        store.refresh();
        QCOMPARE(store.tick(), 2);

        // Off and on again: the counter carries on.
        store.apply(nodes, false);
        QVERIFY(waitIdle(store));
        QCOMPARE(store.tick(), 2);
        store.apply(nodes, true);
        QCOMPARE(store.tick(), 3);
        QCOMPARE(agent.requests().size(), 6); // the two live cycles only: demo mode never polls
    }
};

QTEST_GUILESS_MAIN(DemoMetricsTest)
#include "tst_demometrics.moc"
