// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "FakeNotifications.h"
#include "StoreFixture.h"
#include "app/ContentView.h"
#include "app/Notifier.h"

#include <QtTest>

#include <memory>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;
using std::chrono::seconds;

namespace {

// Agent answers by name. The critical reading's newest critical alert is the second one, and its title
// carries markup characters.
void script(FakeAgent &agent, const QString &reply)
{
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    MetricsSnapshot reading = sampleReading(20);
    if (reply == u"warning"_s) reading.alerts = {makeAlert(u"warning"_s, u"负载偏高"_s, {}, at)};
    if (reply == u"critical"_s)
        reading.alerts = {makeAlert(u"critical"_s, u"旧的告警"_s, {}, at),
                          makeAlert(u"critical"_s, u"磁盘 <sda1> 已满"_s, {}, at.addSecs(60)),
                          makeAlert(u"critical"_s, u"更早的告警"_s, {}, at.addSecs(-60))};
    agent.answer(reply == u"500"_s ? 500 : 200, replyBody(reading));
}

// One notification as the expectations spell it: summary|body|urgency|new or replaces.
QString describe(const FakeNotifications::Call &call, uint previousId)
{
    const QString replaced = call.replacesId == 0            ? u"new"_s
                             : call.replacesId == previousId ? u"replaces"_s
                                                             : u"replaces another"_s;
    return call.summary + u'|' + call.body + u'|' + QString::number(call.hints.value(u"urgency"_s).toInt()) +
           u'|' + replaced;
}

} // namespace

class TestNotifier : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<FakeNotifications> server;
    FakeAgent agent;
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();

    std::unique_ptr<Notifier> notifier(MonitorStore &store, const QDBusConnection &client)
    {
        auto n = std::make_unique<Notifier>(&store, client);
        n->setClock([this] { return now; });
        return n;
    }
    bool cycle(MonitorStore &store, const QString &reply, int secondsLater = 0)
    {
        now += seconds(secondsLater);
        script(agent, reply);
        store.refresh();
        return waitIdle(store);
    }

private Q_SLOTS:
    void initTestCase()
    {
        bus = std::make_unique<PrivateBus>();
        QVERIFY2(bus->isRunning(), "dbus-daemon did not start");
        server = std::make_unique<FakeNotifications>(bus->connect(u"server"_s));
    }
    void init() { server->calls.clear(); }

    // Each step: seconds since the previous one, then the agent's answer for that cycle.
    void rules_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected"); // per step: the new notification, or empty
        const QString critical = u"节点 a · 严重|磁盘 &lt;sda1&gt; 已满|2|new"_s;
        const QString offline = u"节点 a · 离线|HTTP 响应异常|2|new"_s;
        QTest::newRow("worsening to critical")
            << QStringList{u"0 ok"_s, u"0 warning"_s, u"0 critical"_s} << QStringList{{}, {}, critical};
        QTest::newRow("worsening to offline")
            << QStringList{u"0 ok"_s, u"0 500"_s} << QStringList{{}, offline};
        QTest::newRow("recovery replaces it")
            << QStringList{u"0 ok"_s, u"0 critical"_s, u"60 warning"_s, u"60 ok"_s}
            << QStringList{{}, critical, u"节点 a · 已恢复|当前状态：告警|1|replaces"_s, {}};
        QTest::newRow("offline after critical replaces it")
            << QStringList{u"0 critical"_s, u"60 500"_s}
            << QStringList{critical, u"节点 a · 离线|HTTP 响应异常|2|replaces"_s};
        QTest::newRow("first offline is silent")
            << QStringList{u"0 500"_s, u"60 500"_s, u"60 ok"_s} << QStringList{{}, {}, {}};
        QTest::newRow("flapping: one a minute, then the latest state")
            << QStringList{u"0 ok"_s, u"0 500"_s, u"10 ok"_s, u"10 500"_s, u"10 ok"_s, u"29 ok"_s, u"1 ok"_s}
            << QStringList{{}, offline, {}, {}, {}, {}, u"节点 a · 已恢复|当前状态：正常|1|replaces"_s};
    }
    void rules()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        TempNodeFiles files({{u"a"_s, u"节点 a"_s, agent.url(), {}}});
        MonitorStore store(files.locations());
        const QDBusConnection client = bus->connect(u"client"_s);
        const auto n = notifier(store, client);

        uint lastId = 0;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const QStringList step = steps[i].split(u' ');
            const qsizetype before = server->calls.size();
            QVERIFY(cycle(store, step[1], step[0].toInt()));
            QVERIFY(settle(client));
            QStringList got;
            for (qsizetype c = before; c < server->calls.size(); ++c)
                got.append(describe(server->calls[c], std::exchange(lastId, server->calls[c].id)));
            QCOMPARE(got.join(u'\n'), expected[i]);
        }
        for (const FakeNotifications::Call &call : std::as_const(server->calls)) {
            QCOMPARE(call.appName, u"Vantor"_s);
            QCOMPARE(call.hints.value(u"desktop-entry"_s).toString(), u"vantor"_s);
            QVERIFY(call.actions.contains(u"default"_s));
        }
    }

    // Synthetic readings and saved node lists never notify, whatever they do to the statuses.
    void demoAndSavesAreSilent()
    {
        QList<ServerNode> nodes;
        for (const QString &id : {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s})
            nodes.append({id, id, agent.url(), {}});
        TempNodeFiles files(nodes);
        MonitorStore store(files.locations());
        const QDBusConnection client = bus->connect(u"client"_s);
        const auto n = notifier(store, client);
        QVERIFY(cycle(store, u"ok"_s));
        QCOMPARE(store.onlineCount(), 5);

        store.apply(nodes, true);
        bool sawCritical = false;
        for (int i = 0; i < 20; ++i) {
            now += seconds(61);
            store.refresh();
            for (const NodeRuntime &r : store.nodes())
                sawCritical = sawCritical || r.status == NodeStatus::critical;
        }
        QVERIFY2(sawCritical, "the demo readings never went critical: the case proves nothing");

        // Back to live with one node gone silent and one moved to an agent that refuses.
        nodes[0].address = agent.url(u"/elsewhere"_s);
        agent.setRoute("/elsewhere", {500});
        nodes.append({u"f"_s, u"f"_s, agent.url(u"/elsewhere"_s), {}});
        now += seconds(61);
        script(agent, u"ok"_s);
        store.apply(nodes, false);
        QVERIFY(waitIdle(store));
        QCOMPARE(store.nodes().first().status, NodeStatus::offline);
        QVERIFY(settle(client));
        QCOMPARE(server->calls.size(), 0);
    }
    void actionSelectsTheNode()
    {
        TempNodeFiles files({{u"a"_s, u"a"_s, agent.url(), {}}, {u"b"_s, u"b"_s, agent.url(), {}}});
        script(agent, u"ok"_s);
        ContentView window(files.locations());
        const QDBusConnection client = bus->connect(u"client"_s);
        const auto n = notifier(*window.store(), client);
        connect(n.get(), &Notifier::activated, &window, &ContentView::reveal);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(waitIdle(*window.store()));
        QVERIFY(cycle(*window.store(), u"critical"_s));
        QVERIFY(settle(client));
        QCOMPARE(server->calls.size(), 2); // both nodes
        const uint idOfB = server->calls.last().id;

        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        window.showMinimized();
        server->invokeAction(idOfB + 100, u"default"_s); // not ours
        server->invokeAction(idOfB, u"other"_s);         // not the default action
        QVERIFY(settle(client));
        QCOMPARE(window.selectedID(), std::nullopt);

        server->invokeAction(idOfB, u"default"_s);
        QTRY_COMPARE(window.selectedID(), std::optional(u"b"_s));
        QTRY_VERIFY(window.isActiveWindow());
        QVERIFY(!window.isMinimized());
    }

    // Without a bus, or with no notification server on it, the store works and nothing is logged.
    void withoutNotifications_data()
    {
        QTest::addColumn<bool>("busReachable");
        QTest::newRow("no bus") << false;
        QTest::newRow("no notification server") << true;
    }
    void withoutNotifications()
    {
        QFETCH(bool, busReachable);
        PrivateBus empty;
        QVERIFY(empty.isRunning());
        const QDBusConnection client =
            busReachable ? empty.connect(u"empty"_s)
                         : QDBusConnection::connectToBus(u"unix:path=/nonexistent/vantor-bus"_s, u"none"_s);
        QCOMPARE(client.isConnected(), busReachable);
        TempNodeFiles files({{u"a"_s, u"a"_s, agent.url(), {}}});
        MonitorStore store(files.locations());
        const auto n = notifier(store, client);

        static int logged;
        logged = 0;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) { ++logged; });
        QStringList statuses;
        for (const QString &reply : {u"ok"_s, u"critical"_s, u"500"_s, u"ok"_s, u"500"_s}) {
            const bool idle = cycle(store, reply, 61);
            settle(client, false);
            statuses.append(idle ? statusName(store.nodes().first().status) : u"stuck"_s);
        }
        qInstallMessageHandler(previous);
        QCOMPARE(statuses.join(u' '), u"online critical offline online offline"_s);
        QCOMPARE(logged, 0);
    }
};

QTEST_MAIN(TestNotifier)
#include "tst_notifier.moc"
