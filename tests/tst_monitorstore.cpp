// SPDX-License-Identifier: MIT
#include "StoreFixture.h"
#include "store/MonitorStore.h"

#include <QTest>
#include <QTimer>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

namespace {

struct Row {
    double cpu;
    NodeStatus status;
    int alerts;
    int notices = 0;
};

QList<NodeRuntime> records(const QList<Row> &rows)
{
    QList<NodeRuntime> out;
    for (const Row &row : rows) {
        MetricsSnapshot m = sampleReading(row.cpu, QStringList(row.alerts, u"info"_s));
        if (row.notices) m.notices = QList<ServerAlert>(row.notices, makeAlert(u"critical"_s, {}, {}, {}));
        out.append(NodeRuntime{{u"n"_s, u"N"_s, QString(), QString()}, m, row.status, std::nullopt});
    }
    return out;
}

QList<QTimer *> activeTimers(const MonitorStore &store)
{
    QList<QTimer *> timers = store.findChildren<QTimer *>(Qt::FindDirectChildrenOnly);
    timers.removeIf([](QTimer *t) { return !t->isActive(); });
    return timers;
}

} // namespace

class MonitorStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void construction();
    void figures_data();
    void figures();
    void timer();
};

// Loading is covered with the node files; here, what a new store holds and that it stays quiet.
void MonitorStoreTest::construction()
{
    const QList<ServerNode> two{{u"a"_s, u"A"_s, u"http://127.0.0.1:1/metrics"_s, u"t"_s},
                                {u"b"_s, u"B"_s, QString(), QString()}};
    const QByteArray file = R"({"refresh_interval": 30, "nodes": )" + encodeNodeList(two) + "}";
    TempNodeFiles files(file);
    MonitorStore store(files.locations());

    QCOMPARE(store.nodes(),
             (QList<NodeRuntime>{{two[0], MetricsSnapshot::empty(), NodeStatus::offline, {}},
                                 {two[1], MetricsSnapshot::empty(), NodeStatus::offline, {}}}));
    QVERIFY(!store.lastUpdated() && !store.isRefreshing() && !store.demoMode());
    QCOMPARE(store.refreshInterval(), 10.0); // a file's interval is never used
    QCOMPARE(store.tick(), 0);
    QVERIFY(store.findChildren<QTimer *>().isEmpty()); // no timer and no cycle until asked
    QCOMPARE(files.savedFile(), file);                 // construction writes nothing
}

void MonitorStoreTest::figures_data()
{
    QTest::addColumn<QList<NodeRuntime>>("nodes");
    QTest::addColumn<qint64>("alerts");
    QTest::addColumn<qint64>("online");
    QTest::addColumn<qint64>("warning");
    QTest::addColumn<double>("cpu");

    using S = NodeStatus;
    QTest::newRow("no records") << QList<NodeRuntime>() << qint64(0) << qint64(0) << qint64(0) << 0.0;
    QTest::newRow("offline record keeps its CPU in the average")
        << records({{30, S::online, 0}, {60, S::warning, 1}, {90, S::offline, 0}}) << qint64(1) << qint64(1)
        << qint64(1) << 60.0;
    QTest::newRow("warning and critical both count")
        << records({{0, S::warning, 0}, {0, S::critical, 0}}) << qint64(0) << qint64(0) << qint64(2) << 0.0;
    QTest::newRow("notices never count")
        << records({{10, S::online, 2, 3}}) << qint64(2) << qint64(1) << qint64(0) << 10.0;
    QTest::newRow("alerts of an offline reading count")
        << records({{20, S::offline, 4}, {40, S::online, 1}}) << qint64(5) << qint64(1) << qint64(0) << 30.0;
}

void MonitorStoreTest::figures()
{
    QFETCH(QList<NodeRuntime>, nodes);
    QFETCH(qint64, alerts);
    QFETCH(qint64, online);
    QFETCH(qint64, warning);
    QFETCH(double, cpu);
    QCOMPARE(figures::totalAlerts(nodes), alerts);
    QCOMPARE(figures::onlineCount(nodes), online);
    QCOMPARE(figures::warningCount(nodes), warning);
    QCOMPARE(figures::averageCPU(nodes), cpu);
}

void MonitorStoreTest::timer()
{
    const QList<ServerNode> nodes{{u"a"_s, u"A"_s, QString(), QString()}};
    TempNodeFiles files(nodes);
    MonitorStore store(files.locations());
    store.apply(nodes, true);
    QCOMPARE(store.tick(), 1);
    QTest::qWait(300);
    store.scheduleTimer(); // replaces the running timer, from a full period
    const QList<QTimer *> timers = activeTimers(store);
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers[0]->interval(), 10000);
    QVERIFY(!timers[0]->isSingleShot());
    QVERIFY2(timers[0]->remainingTime() > 9800, qPrintable(QString::number(timers[0]->remainingTime())));

    // A firing posts the refresh instead of running it.
    QVERIFY(QMetaObject::invokeMethod(timers[0], "timeout"));
    QCOMPARE(store.tick(), 1);
    QTRY_COMPARE(store.tick(), 2);
}

QTEST_GUILESS_MAIN(MonitorStoreTest)
#include "tst_monitorstore.moc"
