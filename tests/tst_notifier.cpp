// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "FakeNotifications.h"
#include "StoreFixture.h"
#include "app/ContentView.h"
#include "app/Notifier.h"
#include "app/SessionBus.h"

#include <QDBusError>
#include <QTimeZone>
#include <QtTest>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

namespace {

// Agent answers by name. The critical reading's newest critical alert is the second one, and its title
// carries markup characters.
void script(FakeAgent &agent, const QString &reply)
{
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1700000000, QTimeZone::utc());
    MetricsSnapshot reading = sampleReading(20);
    if (reply == u"warning"_s) reading.alerts = {makeAlert(u"warning"_s, u"负载偏高"_s, {}, at)};
    if (reply == u"critical"_s)
        reading.alerts = {makeAlert(u"critical"_s, u"旧的告警"_s, {}, at),
                          makeAlert(u"critical"_s, u"磁盘 <sda1> 已满"_s, {}, at.addSecs(60)),
                          makeAlert(u"critical"_s, u"更早的告警"_s, {}, at.addSecs(-60))};
    agent.answer(reply == u"500"_s ? 500 : 200, replyBody(reading));
}

} // namespace

class TestNotifier : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    PrivateBus bare; // no notification server on it
    FakeNotifications server{bus.connect(u"server"_s)};
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
        now += std::chrono::seconds(secondsLater);
        script(agent, reply);
        store.refresh();
        return waitIdle(store);
    }

private Q_SLOTS:
    void init() { server.notes.clear(); }

    // Each step: seconds since the previous one, then the agent's answer for that cycle.
    void rules_data()
    {
        QTest::addColumn<int>("where"); // 0: a bus with a notification server; 1: a bus without; 2: no bus
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected"); // per step: the new notification, or empty
        // A notification: summary|body|urgency|new or replaces, as FakeNotifications notes it.
        const QString critical = u"节点 a · 严重|磁盘 &lt;sda1&gt; 已满|2|new"_s;
        const QString offline = u"节点 a · 离线|HTTP 响应异常|2|"_s;
        const QString recovered = u"节点 a · 已恢复|当前状态："_s;
        QTest::newRow("worsening to critical, recovery replaces it")
            << 0 << QStringList{u"0 ok"_s, u"0 warning"_s, u"0 critical"_s, u"60 warning"_s, u"60 ok"_s}
            << QStringList{{}, {}, critical, recovered + u"告警|1|replaces"_s, {}};
        // Silent until the node has answered once; then offline replaces a critical notification.
        QTest::newRow("first offline is silent, offline after critical replaces it")
            << 0 << QStringList{u"0 500"_s, u"60 500"_s, u"60 ok"_s, u"0 critical"_s, u"60 500"_s}
            << QStringList{{}, {}, {}, critical, offline + u"replaces"_s};
        QTest::newRow("flapping: one a minute, then the latest state")
            << 0
            << QStringList{u"0 ok"_s, u"0 500"_s, u"10 ok"_s, u"10 500"_s, u"10 ok"_s, u"29 ok"_s, u"1 ok"_s}
            << QStringList{{}, offline + u"new"_s, {}, {}, {}, {}, recovered + u"正常|1|replaces"_s};
        // Without a server, or a bus, the store works all the same.
        const QStringList changes{u"0 ok"_s, u"61 critical"_s, u"61 500"_s, u"61 ok"_s, u"61 500"_s};
        QTest::newRow("no notification server") << 1 << changes << QStringList(changes.size());
        QTest::newRow("no bus") << 2 << changes << QStringList(changes.size());
    }
    // Nothing is logged, whatever happens on the bus.
    void rules()
    {
        QFETCH(int, where);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        TempNodeFiles files({{u"a"_s, u"节点 a"_s, agent.url(), {}}});
        MonitorStore store(files.locations());
        const QDBusConnection client = where == 0   ? bus.connect(u"client"_s)
                                       : where == 1 ? bare.connect(u"bare"_s)
                                                    : QDBusConnection(u"none"_s);
        const auto n = notifier(store, client);
        QLoggingCategory::setFilterRules(u"vantor.poll.warning=false"_s); // the store's own lines
        QTest::failOnWarning(QRegularExpression(u".*"_s));

        for (qsizetype i = 0; i < steps.size(); ++i) {
            const qsizetype before = server.notes.size();
            QVERIFY(cycle(store, steps[i].section(u' ', 1), steps[i].section(u' ', 0, 0).toInt()));
            QVERIFY(settle(client, where == 0) || where == 2);
            QCOMPARE(server.notes.mid(before).join(u'\n'), expected[i]);
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
        const QDBusConnection client = bus.connect(u"client"_s);
        const auto n = notifier(store, client);
        QVERIFY(cycle(store, u"ok"_s));
        QCOMPARE(store.onlineCount(), 5);

        store.apply(nodes, true);
        for (int i = 0; i < 9; ++i) // the fifth node's demo CPU passes 75 from the eighth reading on
            store.refresh();
        QCOMPARE(store.nodes().last().status, NodeStatus::critical);

        // Back to live with one node moved to an address that refuses.
        nodes[0].address = u"http://127.0.0.1:%1/metrics"_s.arg(refusingPort());
        store.apply(nodes, false);
        QVERIFY(waitIdle(store));
        QCOMPARE(store.nodes().first().status, NodeStatus::offline);
        QVERIFY(settle(client));
        QCOMPARE(server.notes, QStringList());
    }
    // A session bus is used only where the session announces one, and never launched: with DISPLAY
    // set and nothing announced, libdbus is not even asked for one (it would start a daemon that
    // outlives the console), no daemon starts and nothing lands in the home folder.
    void sessionBusOnlyWhereAnnounced()
    {
        const auto daemons = [] {
            int count = 0;
            for (const QString &pid : QDir(u"/proc"_s).entryList(QDir::Dirs))
                if (QFile comm(u"/proc/"_s + pid + u"/comm"_s); comm.open(QIODevice::ReadOnly))
                    count += comm.readAll().trimmed() == "dbus-daemon";
            return count;
        };
        const int before = daemons();
        const QTemporaryDir home;
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray homeBefore = qgetenv("HOME");
        qputenv("HOME", home.path().toUtf8());
        qputenv("DISPLAY", ":97");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"^no session bus announced"_s));
        QVERIFY(!announcedSessionBus().isConnected());
        // Never asked for: an attempt would have left its failure (or its daemon) behind.
        QCOMPARE(QDBusConnection(u"qt_default_session_bus"_s).lastError().type(), QDBusError::Disconnected);
        QCOMPARE(daemons(), before);
        QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());

        // The standard socket in the session's runtime folder is announcement enough.
        const QString socket = bus.address().section(u"unix:path="_s, 1).section(u',', 0, 0);
        qputenv("XDG_RUNTIME_DIR", QFileInfo(socket).absolutePath().toUtf8());
        const bool connected = announcedSessionBus().isConnected();
        qputenv("XDG_RUNTIME_DIR", runtime);
        qputenv("HOME", homeBefore);
        qunsetenv("DISPLAY");
        if (!address.isNull()) qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QVERIFY(connected);
    }

    // Clicking a node's notification shows the window, unminimised and active, with that node.
    void actionRevealsTheNode()
    {
        TempNodeFiles files({{u"a"_s, u"a"_s, agent.url(), {}}, {u"b"_s, u"b"_s, agent.url(), {}}});
        script(agent, u"ok"_s);
        ContentView window(files.locations());
        const QDBusConnection client = bus.connect(u"client"_s);
        const auto n = notifier(*window.store(), client);
        connect(n.get(), &Notifier::activated, &window, &ContentView::reveal);
        window.showMinimized();
        QVERIFY(waitIdle(*window.store()) && cycle(*window.store(), u"critical"_s) && settle(client));
        QCOMPARE(server.notes.size(), 2); // both nodes
        const uint idOfB = server.latestId;
        server.invokeAction(idOfB + 100, u"default"_s); // not ours
        server.invokeAction(idOfB, u"other"_s);         // not the default action
        QVERIFY(settle(client));
        QCOMPARE(window.selectedID(), std::nullopt);
        QWidget other; // holds the focus meanwhile
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());

        server.invokeAction(idOfB, u"default"_s);
        QTRY_COMPARE(window.selectedID(), std::optional(u"b"_s));
        QTRY_VERIFY(window.isActiveWindow());
        QVERIFY(!window.isMinimized());
    }
};

QTEST_MAIN(TestNotifier)
#include "tst_notifier.moc"
