// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "store/MonitorStore.h"

#include <QPointer>
#include <QTest>
#include <QTimer>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

namespace {

QStringList pollLines;

void keepPollLines(QtMsgType, const QMessageLogContext &context, const QString &text)
{
    if (QByteArrayView(context.category) == "vantor.poll") pollLines << text;
}

NodeRuntime record(double cpu, NodeStatus status, int alerts, int notices = 0)
{
    MetricsSnapshot m = sampleReading(cpu, QStringList(alerts, u"info"_s));
    if (notices) m.notices = QList<ServerAlert>(notices, makeAlert(u"critical"_s, {}, {}, {}));
    return {{u"n"_s, u"N"_s, QString(), QString()}, m, status, std::nullopt};
}

// Alerts, online records, warning or critical records, and the average CPU.
QList<double> figuresOf(const QList<NodeRuntime> &nodes)
{
    return {double(figures::totalAlerts(nodes)), double(figures::onlineCount(nodes)),
            double(figures::warningCount(nodes)), figures::averageCPU(nodes)};
}

} // namespace

class MonitorStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Loading is covered with the node files; here, what a new store holds and that it stays quiet.
    void construction()
    {
        const ServerNode node{u"a"_s, u"A"_s, u"http://127.0.0.1:1/metrics"_s, u"t"_s};
        const QByteArray file = R"({"refresh_interval": 30, "nodes": )" + encodeNodeList({node}) + "}";
        TempNodeFiles files(file);
        MonitorStore store(files.locations());
        QCOMPARE(store.nodes(),
                 (QList<NodeRuntime>{{node, MetricsSnapshot::empty(), NodeStatus::offline, {}}}));
        QVERIFY(!store.lastUpdated() && !store.isRefreshing() && !store.demoMode());
        QCOMPARE(store.refreshInterval(), 10.0);           // a file's interval is never used
        QVERIFY(store.findChildren<QTimer *>().isEmpty()); // no timer and no cycle until asked
        QCOMPARE(files.savedFile(), file);                 // construction writes nothing
    }

    void figures()
    {
        QCOMPARE(figuresOf({}), (QList<double>{0, 0, 0, 0}));
        // An offline record keeps its CPU in the average and its alerts in the count; notices never count.
        QCOMPARE(figuresOf({record(30, NodeStatus::online, 0, 3), record(60, NodeStatus::warning, 1),
                            record(90, NodeStatus::offline, 4), record(0, NodeStatus::critical, 0)}),
                 (QList<double>{5, 1, 2, 45}));
    }

    // One log line when a node starts failing, with the reason, and one when it answers again;
    // nothing while it keeps doing either, and never the token.
    void logsChangesOnly()
    {
        FakeAgent agent;
        const QList<ServerNode> nodes{{u"a"_s, u"东京"_s, agent.url(), u"secret-token"_s}};
        TempNodeFiles files(nodes);
        MonitorStore store(files.locations());
        const QtMessageHandler previous = qInstallMessageHandler(keepPollLines);
        QStringList counts;
        for (const int status : {500, 500, 200, 200, 500}) {
            agent.answer(status, replyBody(sampleReading(10)));
            store.refresh();
            QVERIFY(waitIdle(store));
            counts << QString::number(pollLines.size());
        }
        qInstallMessageHandler(previous);
        QCOMPARE(counts, (QStringList{u"1"_s, u"1"_s, u"2"_s, u"2"_s, u"3"_s}));
        const QString who = u"a (东京, "_s + agent.url() + u')';
        QCOMPARE(pollLines, (QStringList{who + u" is offline: HTTP 响应异常"_s, who + u" answers again"_s,
                                         who + u" is offline: HTTP 响应异常"_s}));
    }

    void timer()
    {
        const QList<ServerNode> nodes{{u"a"_s, u"A"_s, QString(), QString()}};
        TempNodeFiles files(nodes);
        MonitorStore store(files.locations());
        store.apply(nodes, true);
        QCOMPARE(store.tick(), 1);
        const QPointer<QTimer> first = store.findChild<QTimer *>();
        store.scheduleTimer(); // replaces the running timer, from a full period
        QList<QTimer *> timers = store.findChildren<QTimer *>(Qt::FindDirectChildrenOnly);
        timers.removeIf([](QTimer *t) { return !t->isActive(); });
        QCOMPARE(timers.size(), 1);
        QVERIFY(first.isNull()); // the replaced one can never fire again
        QCOMPARE(timers[0]->interval(), 10000);

        // A firing posts the refresh instead of running it.
        QVERIFY(QMetaObject::invokeMethod(timers[0], "timeout"));
        QCOMPARE(store.tick(), 1);
        QTRY_COMPARE(store.tick(), 2);
    }
};

QTEST_GUILESS_MAIN(MonitorStoreTest)
#include "tst_monitorstore.moc"
