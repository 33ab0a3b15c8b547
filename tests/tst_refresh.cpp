#include "FakeAgent.h"
#include "StoreFixture.h"
#include "store/MonitorStore.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

namespace {

// Short limits keep failing cases quick; the product's limits are the defaults of FetchLimits.
constexpr FetchLimits quick{600, 3000, 64 * 1024};

bool cycle(MonitorStore &store)
{
    store.refresh();
    return waitIdle(store);
}

QString decoderMessage(const QByteArray &body)
{
    return std::get<QString>(decodeSnapshot(body));
}

quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort(); // nobody listens once the server is gone
}

} // namespace

class RefreshTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void success();
    void tokenHeader_data();
    void tokenHeader();
    void tokenWithLineBreakIsNotSent();
    void failures_data();
    void failures();
    void silentAgentHoldsTheCycle();
    void sharedIdUpdatesFirstRecord();
    void applyDuringCycle();
    void secondRefreshDoesNothing();
    void storeReleasedDuringCycle();
    void oversizeBody_data();
    void oversizeBody();
    void tricklingAgentHitsDeadline();
    void redirects_data();
    void redirects();
};

void RefreshTest::success()
{
    FakeAgent warn, calm;
    const MetricsSnapshot warnReading = sampleReading(30, {u"warning"_s, u"Critical"_s});
    const MetricsSnapshot calmReading = sampleReading(60);
    warn.answer(200, replyBody(warnReading));
    calm.answer(200, replyBody(calmReading), 50);
    TempNodeFiles files({{u"w"_s, u"W"_s, warn.url(), u"secret"_s}, {u"c"_s, u"C"_s, calm.url(), QString()}});
    MonitorStore store(files.locations());
    store.setFetchLimits(quick);

    QSignalSpy spy(&store, &MonitorStore::objectWillChange);
    store.refresh();
    QVERIFY(store.isRefreshing());
    QCOMPARE(spy.size(), 1); // nothing more until every poll has ended
    QVERIFY(waitIdle(store));
    QCOMPARE(spy.size(), 1 + 3 + 3 + 2);

    const NodeRuntime &w = store.nodes()[0];
    QCOMPARE(w.metrics, warnReading);
    QCOMPARE(w.status, NodeStatus::warning);
    QVERIFY(!w.errorMessage);
    QCOMPARE(store.nodes()[1].metrics, calmReading);
    QCOMPARE(store.nodes()[1].status, NodeStatus::online);
    QVERIFY(store.lastUpdated());
    QCOMPARE(store.averageCPU(), 45.0);
    QCOMPARE(store.totalAlerts(), 2);

    QCOMPARE(warn.requests().size(), 1);
    QCOMPARE(warn.requests()[0].requestLine, "GET /metrics HTTP/1.1");
}

void RefreshTest::tokenHeader_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<std::optional<QByteArray>>("header");
    QTest::newRow("token sent as is") << u"s3cr et"_s << std::optional<QByteArray>("s3cr et");
    QTest::newRow("no header for an empty token") << QString() << std::optional<QByteArray>();
    QTest::newRow("a single blank is sent") << u" "_s << std::optional<QByteArray>(" ");
}

void RefreshTest::tokenHeader()
{
    QFETCH(QString, token);
    QFETCH(std::optional<QByteArray>, header);
    FakeAgent agent;
    agent.answer(200, replyBody(sampleReading(1)));
    TempNodeFiles files({{u"n"_s, u"N"_s, agent.url(), token}});
    MonitorStore store(files.locations());
    QVERIFY(cycle(store));
    QCOMPARE(agent.requests().size(), 1);
    QCOMPARE(agent.requests()[0].header("X-Monitor-Token"), header);
    QCOMPARE(store.nodes()[0].status, NodeStatus::online);
}

void RefreshTest::tokenWithLineBreakIsNotSent()
{
    FakeAgent agent;
    agent.answer(200, replyBody(sampleReading(1)));
    TempNodeFiles files({{u"n"_s, u"N"_s, agent.url(), u"tok\r\nX-Injected: 1"_s}});
    MonitorStore store(files.locations());
    QVERIFY(cycle(store));
    QCOMPARE(store.nodes()[0].errorMessage, fetchMessages::unusableToken());
    QCOMPARE(agent.requests().size(), 0);
}

void RefreshTest::failures_data()
{
    QTest::addColumn<QString>("address"); // empty: the victim's own agent
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QString>("message");

    const int answer = int(FakeAgent::Behaviour::Answer);
    const QByteArray partial = R"({"cpuUsage": 1})";
    QTest::newRow("empty address") << u"-"_s << 200 << QByteArray() << answer << u"地址格式无效"_s;
    QTest::newRow("address with a space")
        << u"http://127.0.0.1:9/a b"_s << 200 << QByteArray() << answer << u"地址格式无效"_s;
    QTest::newRow("local file address")
        << u"file:///etc/hostname"_s << 200 << QByteArray() << answer << u"HTTP 响应异常"_s;
    QTest::newRow("status 404") << QString() << 404 << replyBody(sampleReading(1)) << answer
                                << u"HTTP 响应异常"_s;
    QTest::newRow("status 500") << QString() << 500 << QByteArray() << answer << u"HTTP 响应异常"_s;
    QTest::newRow("204 with empty body") << QString() << 204 << QByteArray() << answer << decoderMessage({});
    QTest::newRow("body is not a reading")
        << QString() << 200 << partial << answer << decoderMessage(partial);
    QTest::newRow("connection refused") << u"http://127.0.0.1:%1/metrics"_s.arg(closedPort()) << 200
                                        << QByteArray() << answer << u"Connection refused"_s;
    QTest::newRow("closed mid-reply") << QString() << 200 << replyBody(sampleReading(1))
                                      << int(FakeAgent::Behaviour::CloseMidReply) << u"Connection closed"_s;
}

void RefreshTest::failures()
{
    QFETCH(QString, address);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, behaviour);
    QFETCH(QString, message);

    FakeAgent victim, healthy;
    const MetricsSnapshot first = sampleReading(40, {u"critical"_s});
    victim.answer(200, replyBody(first));
    healthy.answer(200, replyBody(sampleReading(10)));
    QList<ServerNode> nodes{{u"v"_s, u"V"_s, victim.url(), u"tok"_s},
                            {u"h"_s, u"H"_s, healthy.url(), u"tok"_s}};
    TempNodeFiles files(nodes);
    MonitorStore store(files.locations());
    store.setFetchLimits(quick);
    QVERIFY(cycle(store));
    QCOMPARE(store.nodes()[0].status, NodeStatus::critical);

    FakeAgent::Script script;
    script.status = status;
    script.body = body;
    script.behaviour = FakeAgent::Behaviour(behaviour);
    victim.setScript(script);
    const MetricsSnapshot second = sampleReading(20);
    healthy.answer(200, replyBody(second));
    if (!address.isNull()) nodes[0].address = address == u"-"_s ? QString() : address;
    store.apply(nodes, false); // keeps the readings and starts the next cycle
    QVERIFY(waitIdle(store));

    const NodeRuntime &v = store.nodes()[0];
    QCOMPARE(v.status, NodeStatus::offline);
    QCOMPARE(v.errorMessage.value_or(u"(none)"_s), message);
    QCOMPARE(v.metrics, first); // the last good reading stays
    QCOMPARE(store.totalAlerts(), 1);
    QCOMPARE(victim.requests().size(), address.isNull() ? 2 : 1);
    QCOMPARE(store.nodes()[1].metrics, second);
    QCOMPARE(store.nodes()[1].status, NodeStatus::online);
    QVERIFY(!store.nodes()[1].errorMessage);
}

void RefreshTest::silentAgentHoldsTheCycle()
{
    FakeAgent silent, fast;
    silent.setBehaviour(FakeAgent::Behaviour::Silent);
    fast.answer(200, replyBody(sampleReading(5)));
    TempNodeFiles files({{u"s"_s, u"S"_s, silent.url(), QString()}, {u"f"_s, u"F"_s, fast.url(), QString()}});
    MonitorStore store(files.locations());
    store.setFetchLimits(quick);

    QElapsedTimer clock;
    clock.start();
    store.refresh();
    QVERIFY(QTest::qWaitFor([&] { return fast.requests().size() == 1; }));
    QTest::qWait(200);
    QCOMPARE(store.nodes()[1].status, NodeStatus::offline); // answered, but waits for the silent one
    QVERIFY(waitIdle(store));
    QVERIFY2(clock.elapsed() >= quick.stallTimeoutMs * 9 / 10, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(clock.elapsed() < quick.stallTimeoutMs + 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(store.nodes()[0].errorMessage, u"Operation canceled"_s);
    QCOMPARE(store.nodes()[1].status, NodeStatus::online);
}

void RefreshTest::sharedIdUpdatesFirstRecord()
{
    FakeAgent early, late;
    early.answer(200, replyBody(sampleReading(11)));
    late.answer(200, replyBody(sampleReading(22)), 150);
    TempNodeFiles files(
        {{u"x"_s, u"late"_s, late.url(), QString()}, {u"x"_s, u"early"_s, early.url(), QString()}});
    MonitorStore store(files.locations());
    QVERIFY(cycle(store));
    QCOMPARE(early.requests().size(), 1);
    QCOMPARE(late.requests().size(), 1);
    QCOMPARE(store.nodes()[0].metrics.cpuUsage, 22.0); // the later-finishing result lands last
    QCOMPARE(store.nodes()[1].metrics, MetricsSnapshot::empty());
    QCOMPARE(store.nodes()[1].status, NodeStatus::offline);
}

void RefreshTest::applyDuringCycle()
{
    FakeAgent slow, gone, added;
    slow.answer(200, replyBody(sampleReading(33)), 300);
    gone.answer(200, replyBody(sampleReading(44)));
    added.answer(200, replyBody(sampleReading(55)));
    TempNodeFiles files({{u"a"_s, u"A"_s, slow.url(), QString()}, {u"b"_s, u"B"_s, gone.url(), QString()}});
    MonitorStore store(files.locations());
    store.refresh();

    const QList<ServerNode> next{{u"n"_s, u"New"_s, added.url(), QString()},
                                 {u"a"_s, u"A2"_s, slow.url(), QString()}};
    store.apply(next, false);
    QCOMPARE(store.nodes().size(), 2); // published at once
    QCOMPARE(store.nodes()[1].node.name, u"A2"_s);
    QVERIFY(waitIdle(store));

    QCOMPARE(store.nodes()[1].metrics.cpuUsage, 33.0); // matched by id in the new list
    QCOMPARE(store.nodes()[0].metrics, MetricsSnapshot::empty());
    QCOMPARE(store.nodes()[0].status, NodeStatus::offline);
    QVERIFY(!store.nodes()[0].errorMessage);
    QCOMPARE(added.requests().size(), 0); // polled only from the next cycle on
    QCOMPARE(encodeNodeList(next), files.savedFile());

    QVERIFY(cycle(store));
    QCOMPARE(store.nodes()[0].metrics.cpuUsage, 55.0);
}

void RefreshTest::secondRefreshDoesNothing()
{
    FakeAgent agent;
    agent.answer(200, replyBody(sampleReading(1)), 100);
    TempNodeFiles files({{u"a"_s, u"A"_s, agent.url(), QString()}});
    MonitorStore store(files.locations());
    store.refresh();
    QSignalSpy spy(&store, &MonitorStore::objectWillChange);
    store.refresh();
    QCOMPARE(spy.size(), 0);
    QVERIFY(waitIdle(store));
    QCOMPARE(agent.requests().size(), 1);
}

void RefreshTest::storeReleasedDuringCycle()
{
    FakeAgent agent;
    agent.answer(200, replyBody(sampleReading(1)), 150);
    TempNodeFiles files({{u"a"_s, u"A"_s, agent.url(), QString()}, {u"b"_s, u"B"_s, QString(), QString()}});
    const QByteArray fileBefore = files.savedFile();
    int notifications = 0;
    {
        MonitorStore store(files.locations());
        connect(&store, &MonitorStore::objectWillChange, this, [&] { ++notifications; });
        store.refresh();
        QTRY_COMPARE(agent.requests().size(), 1);
    }
    const int atRelease = notifications;
    QTest::qWait(400); // past the agent's answer: nothing may touch the released store
    QCOMPARE(notifications, atRelease);
    QCOMPARE(files.savedFile(), fileBefore);
}

void RefreshTest::oversizeBody_data()
{
    QTest::addColumn<bool>("sendLength");
    QTest::newRow("declared length") << true;
    QTest::newRow("body read until close") << false;
}

void RefreshTest::oversizeBody()
{
    QFETCH(bool, sendLength);
    FakeAgent big;
    FakeAgent::Script script;
    script.body = QByteArray(quick.maxBodyBytes + 1, ' ');
    script.sendLength = sendLength;
    big.setScript(script);
    TempNodeFiles files({{u"a"_s, u"A"_s, big.url(), QString()}});
    MonitorStore store(files.locations());
    store.setFetchLimits(quick);
    QVERIFY(cycle(store));
    QCOMPARE(store.nodes()[0].errorMessage, u"agent 响应超过 65536 字节上限"_s);
    QCOMPARE(fetchMessages::bodyTooLarge(8 * 1024 * 1024), u"agent 响应超过 8 MiB 上限"_s);

    // A body of exactly the limit is still read.
    script.body = replyBody(sampleReading(3));
    script.body += QByteArray(quick.maxBodyBytes - script.body.size(), ' ');
    big.setScript(script);
    QVERIFY(cycle(store));
    QCOMPARE(store.nodes()[0].status, NodeStatus::online);
}

void RefreshTest::tricklingAgentHitsDeadline()
{
    FakeAgent trickle, fast;
    FakeAgent::Script script;
    script.body = replyBody(sampleReading(1));
    script.behaviour = FakeAgent::Behaviour::Trickle;
    script.trickleIntervalMs = 50; // well inside the stall limit, so only the deadline can end it
    trickle.setScript(script);
    fast.answer(200, replyBody(sampleReading(2)));
    TempNodeFiles files(
        {{u"t"_s, u"T"_s, trickle.url(), QString()}, {u"f"_s, u"F"_s, fast.url(), QString()}});
    MonitorStore store(files.locations());
    store.setFetchLimits({600, 1500, 64 * 1024});

    QElapsedTimer clock;
    clock.start();
    QVERIFY(cycle(store));
    // A coarse timer may fire up to 5 % early.
    QVERIFY2(clock.elapsed() >= 1400 && clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(store.nodes()[0].errorMessage, u"agent 未在 1.5 秒内完成响应"_s);
    QCOMPARE(store.nodes()[1].status, NodeStatus::online);
}

void RefreshTest::redirects_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("crossOrigin");
    QTest::addColumn<bool>("followed");
    QTest::newRow("same origin keeps the token") << u"tok"_s << false << true;
    QTest::newRow("other port with a token is refused") << u"tok"_s << true << false;
    QTest::newRow("other port without a token is followed") << QString() << true << true;
}

void RefreshTest::redirects()
{
    QFETCH(QString, token);
    QFETCH(bool, crossOrigin);
    QFETCH(bool, followed);

    FakeAgent origin, elsewhere;
    const QByteArray body = replyBody(sampleReading(7));
    FakeAgent::Script moved;
    moved.status = 302;
    moved.headers = {{"Location", crossOrigin ? elsewhere.url(u"/real"_s).toUtf8() : QByteArray("/real")}};
    origin.setRoute("/metrics", moved);
    origin.answer(200, body);
    elsewhere.answer(200, body);
    TempNodeFiles files({{u"a"_s, u"A"_s, origin.url(), token}});
    MonitorStore store(files.locations());
    store.setFetchLimits(quick);
    QVERIFY(cycle(store));

    FakeAgent &target = crossOrigin ? elsewhere : origin;
    if (followed) {
        QCOMPARE(store.nodes()[0].status, NodeStatus::online);
        QCOMPARE(target.requests().last().requestLine, "GET /real HTTP/1.1");
        const auto expected = token.isEmpty() ? std::nullopt : std::optional<QByteArray>(token.toUtf8());
        QCOMPARE(target.requests().last().header("X-Monitor-Token"), expected);
    } else {
        QCOMPARE(store.nodes()[0].errorMessage, fetchMessages::redirectRefused(QUrl(elsewhere.url())));
        QVERIFY(store.nodes()[0].errorMessage->contains(QString::number(elsewhere.port())));
        QCOMPARE(elsewhere.requests().size(), 0);
    }
}

QTEST_GUILESS_MAIN(RefreshTest)
#include "tst_refresh.moc"
