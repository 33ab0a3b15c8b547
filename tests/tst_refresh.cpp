#include "FakeAgent.h"
#include "StoreFixture.h"
#include "store/MonitorStore.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

namespace {

// Short limits keep failing cases quick; the product's limits are the defaults of FetchLimits.
const FetchLimits quick{600, 3000, 64 * 1024};

// A pattern matching exactly this text.
QRegularExpression exactly(const QString &text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(text)));
}

ServerNode node(const QString &id, const QString &address, const QString &token = {})
{
    return {id, id.toUpper(), address, token};
}

// A store over its own node file.
struct Rig {
    TempNodeFiles files;
    MonitorStore store;
    explicit Rig(const QList<ServerNode> &nodes, FetchLimits limits = quick)
        : files(nodes), store(files.locations())
    {
        store.setFetchLimits(limits);
    }
    bool cycle()
    {
        store.refresh();
        return waitIdle(store);
    }
    const NodeRuntime &operator[](qsizetype i) const { return store.nodes()[i]; }
};

} // namespace

class RefreshTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void success();
    void tokenHeader_data();
    void tokenHeader();
    void failures_data();
    void failures();
    void timeouts_data();
    void timeouts();
    void sharedIdUpdatesFirstRecord();
    void applyDuringCycle();
    void secondRefreshDoesNothing();
    void storeReleasedDuringCycle();
    void oversizeBody_data();
    void oversizeBody();
    void redirects_data();
    void redirects();
    void statusBounds_data();
    void statusBounds();
};

void RefreshTest::success()
{
    FakeAgent warn, calm;
    const MetricsSnapshot warnReading = sampleReading(30, {u"warning"_s, u"Critical"_s});
    const MetricsSnapshot calmReading = sampleReading(60);
    warn.answer(200, replyBody(warnReading));
    calm.answer(200, replyBody(calmReading), 50);
    Rig rig({node(u"w"_s, warn.url(), u"secret"_s), node(u"c"_s, calm.url())});

    QSignalSpy spy(&rig.store, &MonitorStore::objectWillChange);
    rig.store.refresh();
    QVERIFY(rig.store.isRefreshing());
    QCOMPARE(spy.size(), 1); // nothing more until every poll has ended
    QVERIFY(waitIdle(rig.store));
    QCOMPARE(spy.size(), 1 + 3 + 3 + 2);

    QCOMPARE(rig[0], (NodeRuntime{rig[0].node, warnReading, NodeStatus::warning, std::nullopt}));
    QCOMPARE(rig[1], (NodeRuntime{rig[1].node, calmReading, NodeStatus::online, std::nullopt}));
    QVERIFY(rig.store.lastUpdated());
    QCOMPARE(rig.store.averageCPU(), 45.0);
    QCOMPARE(rig.store.totalAlerts(), 2);
    QCOMPARE(warn.requests().size(), 1);
    QCOMPARE(warn.requests()[0].requestLine, "GET /metrics HTTP/1.1");
}

void RefreshTest::tokenHeader_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<std::optional<QByteArray>>("header"); // empty with error: no request at all
    QTest::addColumn<QString>("error");
    QTest::newRow("token sent as is") << u"s3cr et"_s << std::optional<QByteArray>("s3cr et") << QString();
    QTest::newRow("no header for an empty token") << QString() << std::optional<QByteArray>() << QString();
    // A header value never keeps blanks at its edges, so a blank token arrives as an empty value.
    QTest::newRow("a blank token sends the header") << u" "_s << std::optional<QByteArray>("") << QString();
    QTest::newRow("line break refused")
        << u"tok\r\nX-Injected: 1"_s << std::optional<QByteArray>() << u"令牌含有不能放入 HTTP 头的字符"_s;
}

void RefreshTest::tokenHeader()
{
    QFETCH(QString, token);
    QFETCH(std::optional<QByteArray>, header);
    QFETCH(QString, error);
    FakeAgent agent;
    agent.answer(200, replyBody(sampleReading(1)));
    Rig rig({node(u"n"_s, agent.url(), token)});
    QVERIFY(rig.cycle());
    QCOMPARE(rig[0].errorMessage.value_or(QString()), error);
    QCOMPARE(agent.requests().size(), error.isNull() ? 1 : 0);
    if (error.isNull()) QCOMPARE(agent.requests()[0].header("X-Monitor-Token"), header);
}

void RefreshTest::failures_data()
{
    QTest::addColumn<QString>("address"); // empty: the victim's own agent
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QRegularExpression>("message");

    const int answer = int(FakeAgent::Behaviour::Answer);
    const QByteArray partial = R"({"cpuUsage": 1})";
    const auto decoderMessage = [](const QByteArray &body) {
        return exactly(std::get<QString>(decodeSnapshot(body)));
    };
    const QString port = QString::number(refusingPort());
    const QString bad = u"HTTP 响应异常"_s;

    QTest::newRow("empty address") << u"-"_s << 200 << QByteArray() << answer << exactly(u"地址格式无效"_s);
    QTest::newRow("address with a space")
        << u"http://127.0.0.1:9/a b"_s << 200 << QByteArray() << answer << exactly(u"地址格式无效"_s);
    QTest::newRow("local file address")
        << u"file:///etc/hostname"_s << 200 << QByteArray() << answer << exactly(bad);
    // The client would otherwise guess http for an address without a scheme.
    QTest::newRow("no scheme") << u"localhost:9100/metrics"_s << 200 << QByteArray() << answer
                               << exactly(u"Unsupported URL scheme"_s);
    QTest::newRow("no host") << u"http://"_s << 200 << QByteArray() << answer
                             << exactly(u"No host part in the URL"_s);
    QTest::newRow("status 404") << QString() << 404 << replyBody(sampleReading(1)) << answer << exactly(bad);
    QTest::newRow("204 with empty body") << QString() << 204 << QByteArray() << answer << decoderMessage({});
    QTest::newRow("body is not a reading")
        << QString() << 200 << partial << answer << decoderMessage(partial);
    QTest::newRow("connection refused")
        << u"http://127.0.0.1:"_s + port + u"/metrics"_s << 200 << QByteArray() << answer
        << QRegularExpression(u"^Failed to connect to 127.0.0.1 port "_s + port + u" .*Couldn't connect"_s);
    QTest::newRow("closed mid-reply")
        << QString() << 200 << replyBody(sampleReading(1)) << int(FakeAgent::Behaviour::CloseMidReply)
        << QRegularExpression(u"^transfer closed with \\d+ bytes remaining to read$"_s);
}

void RefreshTest::failures()
{
    QFETCH(QString, address);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, behaviour);
    QFETCH(QRegularExpression, message);

    FakeAgent victim, healthy;
    const MetricsSnapshot first = sampleReading(40, {u"critical"_s});
    victim.answer(200, replyBody(first));
    healthy.answer(200, replyBody(sampleReading(10)));
    QList<ServerNode> nodes{node(u"v"_s, victim.url(), u"tok"_s), node(u"h"_s, healthy.url(), u"tok"_s)};
    Rig rig(nodes);
    QVERIFY(rig.cycle());
    QCOMPARE(rig[0].status, NodeStatus::critical);

    victim.setScript({status, body, {}, 0, FakeAgent::Behaviour(behaviour)});
    const MetricsSnapshot second = sampleReading(20);
    healthy.answer(200, replyBody(second));
    if (!address.isNull()) nodes[0].address = address == u"-"_s ? QString() : address;
    rig.store.apply(nodes, false); // keeps the readings and starts the next cycle
    QVERIFY(waitIdle(rig.store));

    const QString actual = rig[0].errorMessage.value_or(u"(none)"_s);
    QVERIFY2(message.match(actual).hasMatch(), qPrintable(actual));
    QCOMPARE(rig[0],
             (NodeRuntime{nodes[0], first, NodeStatus::offline, actual})); // the last good reading stays
    QCOMPARE(rig.store.totalAlerts(), 1);
    QCOMPARE(victim.requests().size(), address.isNull() ? 2 : 1);
    QCOMPARE(rig[1], (NodeRuntime{nodes[1], second, NodeStatus::online, std::nullopt}));
}

void RefreshTest::timeouts_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<int>("expectedMs");
    QTest::addColumn<QString>("message");
    // The trickle sends a byte well inside the stall limit, so only the overall deadline can end it.
    QTest::newRow("silent agent hits the stall limit")
        << int(FakeAgent::Behaviour::Silent) << quick.stallTimeoutMs << u"agent 0.6 秒内无响应"_s;
    QTest::newRow("trickling agent hits the deadline")
        << int(FakeAgent::Behaviour::Trickle) << 1500 << u"agent 未在 1.5 秒内完成响应"_s;
}

void RefreshTest::timeouts()
{
    QFETCH(int, behaviour);
    QFETCH(int, expectedMs);
    QFETCH(QString, message);
    FakeAgent slow, fast;
    slow.setScript({200, replyBody(sampleReading(1)), {}, 0, FakeAgent::Behaviour(behaviour), 50});
    fast.answer(200, replyBody(sampleReading(5)));
    Rig rig({node(u"s"_s, slow.url()), node(u"f"_s, fast.url())},
            {quick.stallTimeoutMs, 1500, quick.maxBodyBytes});

    QElapsedTimer clock;
    clock.start();
    rig.store.refresh();
    QVERIFY(QTest::qWaitFor([&] { return fast.requests().size() == 1; }));
    QTest::qWait(200);
    QCOMPARE(rig[1].status, NodeStatus::offline); // answered, but waits for the slow one
    QVERIFY(waitIdle(rig.store));
    // A coarse timer may fire up to 5 % early.
    QVERIFY2(clock.elapsed() >= expectedMs * 9 / 10 && clock.elapsed() < expectedMs + 1500,
             qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig[0].errorMessage, message);
    QCOMPARE(rig[1].status, NodeStatus::online);
}

void RefreshTest::sharedIdUpdatesFirstRecord()
{
    FakeAgent early, late;
    early.answer(200, replyBody(sampleReading(11)));
    late.answer(200, replyBody(sampleReading(22)), 150);
    Rig rig({node(u"x"_s, late.url()), node(u"x"_s, early.url())});
    QVERIFY(rig.cycle());
    QCOMPARE(early.requests().size(), 1);
    QCOMPARE(late.requests().size(), 1);
    QCOMPARE(rig[0].metrics.cpuUsage, 22.0); // the later-finishing result lands last
    QCOMPARE(rig[1].metrics, MetricsSnapshot::empty());
    QCOMPARE(rig[1].status, NodeStatus::offline);
}

void RefreshTest::applyDuringCycle()
{
    FakeAgent slow, gone, added;
    slow.answer(200, replyBody(sampleReading(33)), 300);
    gone.answer(200, replyBody(sampleReading(44)));
    added.answer(200, replyBody(sampleReading(55)));
    Rig rig({node(u"a"_s, slow.url()), node(u"b"_s, gone.url())});
    rig.store.refresh();

    const QList<ServerNode> next{node(u"n"_s, added.url()), {u"a"_s, u"A2"_s, slow.url(), QString()}};
    rig.store.apply(next, false);
    QCOMPARE(rig.store.nodes().size(), 2); // published at once
    QCOMPARE(rig[1].node.name, u"A2"_s);
    QVERIFY(waitIdle(rig.store));

    QCOMPARE(rig[1].metrics.cpuUsage, 33.0); // matched by id in the new list
    QCOMPARE(rig[0], (NodeRuntime{next[0], MetricsSnapshot::empty(), NodeStatus::offline, std::nullopt}));
    QCOMPARE(added.requests().size(), 0); // polled only from the next cycle on
    QVERIFY(rig.cycle());
    QCOMPARE(rig[0].metrics.cpuUsage, 55.0);
}

void RefreshTest::secondRefreshDoesNothing()
{
    FakeAgent agent;
    agent.answer(200, replyBody(sampleReading(1)), 100);
    Rig rig({node(u"a"_s, agent.url())});
    rig.store.refresh();
    QSignalSpy spy(&rig.store, &MonitorStore::objectWillChange);
    rig.store.refresh();
    QCOMPARE(spy.size(), 0);
    QVERIFY(waitIdle(rig.store));
    QCOMPARE(agent.requests().size(), 1);
}

void RefreshTest::storeReleasedDuringCycle()
{
    FakeAgent agent;
    agent.answer(200, replyBody(sampleReading(1)), 150);
    TempNodeFiles files({node(u"a"_s, agent.url()), node(u"b"_s, QString())});
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
    FakeAgent::Script script{.body = QByteArray(quick.maxBodyBytes + 1, ' '), .sendLength = sendLength};
    big.setScript(script);
    Rig rig({node(u"a"_s, big.url())});
    QVERIFY(rig.cycle());
    QCOMPARE(rig[0].errorMessage, u"agent 响应超过 64 KiB 上限"_s);
    QCOMPARE(fetchMessages::bodyTooLarge(8 * 1024 * 1024), u"agent 响应超过 8 MiB 上限"_s);

    // A body of exactly the limit is still read.
    script.body = replyBody(sampleReading(3));
    script.body += QByteArray(quick.maxBodyBytes - script.body.size(), ' ');
    big.setScript(script);
    QVERIFY(rig.cycle());
    QCOMPARE(rig[0].status, NodeStatus::online);
}

void RefreshTest::redirects_data()
{
    // In the location and the message, %1 is the origin agent's port and %2 the other agent's.
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("message"); // empty: the redirect is followed and its reading applied
    const QString refused = u"agent 重定向到其他来源 %1，为保护令牌未跟随"_s;
    QTest::newRow("same origin keeps the token") << u"tok"_s << u"/real"_s << QString();
    QTest::newRow("other port with a token is refused")
        << u"tok"_s << u"http://127.0.0.1:%2/real"_s << refused.arg(u"http://127.0.0.1:%2"_s);
    QTest::newRow("other port without a token is followed")
        << QString() << u"http://127.0.0.1:%2/real"_s << QString();
    // Followed with the token: the fake agent speaks no TLS, so the handshake waits until it stalls.
    QTest::newRow("https on the same host and port is followed")
        << u"tok"_s << u"https://127.0.0.1:%1/real"_s << u"agent 0.6 秒内无响应"_s;
    QTest::newRow("https on another port with a token is refused")
        << u"tok"_s << u"https://127.0.0.1:%2/real"_s << refused.arg(u"https://127.0.0.1:%2"_s);
}

void RefreshTest::redirects()
{
    QFETCH(QString, token);
    QFETCH(QString, location);
    QFETCH(QString, message);

    FakeAgent origin, elsewhere;
    const auto ports = [&](QString text) {
        return text.replace(u"%1"_s, QString::number(origin.port()))
            .replace(u"%2"_s, QString::number(elsewhere.port()));
    };
    origin.setRoute("/metrics", {302, {}, {{"Location", ports(location).toUtf8()}}});
    origin.answer(200, replyBody(sampleReading(7)));
    elsewhere.answer(200, replyBody(sampleReading(7)));
    Rig rig({node(u"a"_s, origin.url(), token)});
    QVERIFY(rig.cycle());

    FakeAgent &target = location.contains(u"%2"_s) ? elsewhere : origin;
    if (message.isEmpty()) {
        QCOMPARE(rig[0].errorMessage, std::nullopt);
        QCOMPARE(rig[0].status, NodeStatus::online);
        QCOMPARE(target.requests().last().requestLine, "GET /real HTTP/1.1");
        const auto expected = token.isEmpty() ? std::nullopt : std::optional<QByteArray>(token.toUtf8());
        QCOMPARE(target.requests().last().header("X-Monitor-Token"), expected);
    } else {
        QCOMPARE(rig[0].errorMessage, ports(message));
        QCOMPARE(elsewhere.requests().size(), 0);
    }
}

void RefreshTest::statusBounds_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("299, the last success") << 299 << true;
    QTest::newRow("300, the first refusal") << 300 << false;
}

void RefreshTest::statusBounds()
{
    QFETCH(int, status);
    QFETCH(bool, accepted);
    FakeAgent agent;
    agent.answer(status, replyBody(sampleReading(9)));
    Rig rig({node(u"a"_s, agent.url())});
    QVERIFY(rig.cycle());
    QCOMPARE(rig[0].status, accepted ? NodeStatus::online : NodeStatus::offline);
    QCOMPARE(rig[0].errorMessage, accepted ? std::nullopt : std::optional<QString>(u"HTTP 响应异常"_s));
}

QTEST_GUILESS_MAIN(RefreshTest)
#include "tst_refresh.moc"
