// SPDX-License-Identifier: MIT
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
using Script = FakeAgent::Script;
Q_DECLARE_METATYPE(vantor::test::FakeAgent::Script)

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
    void storeReleasedDuringCycle();
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
    Rig rig({node(u"w"_s, warn.url(), u"secret"_s), node(u"c"_s, calm.url())});

    QSignalSpy spy(&rig.store, &MonitorStore::objectWillChange);
    rig.store.refresh();
    QVERIFY(rig.store.isRefreshing());
    rig.store.refresh();     // a second refresh while one runs does nothing
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

// The victim's agent answered well once; the second cycle meets the row's script (or address).
void RefreshTest::failures_data()
{
    QTest::addColumn<QString>("address"); // empty: the victim's own agent
    QTest::addColumn<Script>("script");
    QTest::addColumn<QRegularExpression>("message"); // empty: the reply is read and the node online

    const QByteArray good = replyBody(sampleReading(3));
    const QString port = QString::number(refusingPort());
    const QRegularExpression bad = exactly(u"HTTP 响应异常"_s), none = exactly({});
    const QRegularExpression tooLarge = exactly(u"agent 响应超过 64 KiB 上限"_s);
    const Script oversize{.body = QByteArray(quick.maxBodyBytes + 1, ' ')};

    QTest::newRow("empty address") << u"-"_s << Script{} << exactly(u"地址格式无效"_s);
    QTest::newRow("address with a space")
        << u"http://127.0.0.1:9/a b"_s << Script{} << exactly(u"地址格式无效"_s);
    QTest::newRow("local file address") << u"file:///etc/hostname"_s << Script{} << bad;
    // The client would otherwise guess http for an address without a scheme.
    QTest::newRow("no scheme") << u"localhost:9100/metrics"_s << Script{}
                               << exactly(u"Unsupported URL scheme"_s);
    QTest::newRow("no host") << u"http://"_s << Script{} << exactly(u"No host part in the URL"_s);
    QTest::newRow("connection refused")
        << u"http://127.0.0.1:"_s + port + u"/metrics"_s << Script{}
        << QRegularExpression(u"^Failed to connect to 127.0.0.1 port "_s + port + u" .*Couldn't connect"_s);
    QTest::newRow("299, the last success, with a body of exactly the limit")
        << QString() << Script{299, good + QByteArray(quick.maxBodyBytes - good.size(), ' ')} << none;
    QTest::newRow("300, the first refusal") << QString() << Script{300, good} << bad;
    QTest::newRow("204 with empty body")
        << QString() << Script{204}
        << QRegularExpression(u"^JSON syntax error at line 1, column 1: .*unexpected end of input"_s);
    QTest::newRow("body is not a reading") << QString() << Script{200, R"({"cpuUsage": 1})"}
                                           << exactly(u"$.memoryUsage: required value missing"_s);
    QTest::newRow("closed mid-reply")
        << QString() << Script{.body = good, .behaviour = FakeAgent::Behaviour::CloseMidReply}
        << QRegularExpression(u"^transfer closed with \\d+ bytes remaining to read$"_s);
    QTest::newRow("over the body limit, declared length") << QString() << oversize << tooLarge;
    Script untilClose = oversize;
    untilClose.sendLength = false;
    QTest::newRow("over the body limit, read until close") << QString() << untilClose << tooLarge;
}

void RefreshTest::failures()
{
    QFETCH(QString, address);
    QFETCH(Script, script);
    QFETCH(QRegularExpression, message);

    FakeAgent victim, healthy;
    const MetricsSnapshot first = sampleReading(40, {u"critical"_s});
    victim.answer(200, replyBody(first));
    healthy.answer(200, replyBody(sampleReading(10)));
    QList<ServerNode> nodes{node(u"v"_s, victim.url(), u"tok"_s), node(u"h"_s, healthy.url(), u"tok"_s)};
    Rig rig(nodes);
    QVERIFY(rig.cycle());
    QCOMPARE(rig[0].status, NodeStatus::critical);

    victim.setScript(script);
    const MetricsSnapshot second = sampleReading(20);
    healthy.answer(200, replyBody(second));
    if (!address.isNull()) nodes[0].address = address == u"-"_s ? QString() : address;
    rig.store.apply(nodes, false); // keeps the readings and starts the next cycle
    QVERIFY(waitIdle(rig.store));

    QCOMPARE(victim.requests().size(), address.isNull() ? 2 : 1);
    QCOMPARE(rig[1], (NodeRuntime{nodes[1], second, NodeStatus::online, std::nullopt}));
    const QString actual = rig[0].errorMessage.value_or(QString());
    QVERIFY2(message.match(actual).hasMatch(), qPrintable(actual));
    if (actual.isEmpty())
        QCOMPARE(rig[0], (NodeRuntime{nodes[0], sampleReading(3), NodeStatus::online, std::nullopt}));
    else // the last good reading stays
        QCOMPARE(rig[0], (NodeRuntime{nodes[0], first, NodeStatus::offline, actual}));
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
    FakeAgent slow, failing, added;
    const MetricsSnapshot warm = sampleReading(33, {u"warning"_s});
    slow.answer(200, replyBody(warm));
    failing.answer(500, {});
    added.answer(200, replyBody(sampleReading(55)));
    Rig rig({node(u"a"_s, slow.url()), node(u"b"_s, failing.url())});
    QVERIFY(rig.cycle());
    QVERIFY(rig[1].errorMessage);
    slow.answer(200, replyBody(sampleReading(34)), 300);
    rig.store.refresh();

    const QList<ServerNode> next{
        node(u"n"_s, added.url()), {u"a"_s, u"A2"_s, slow.url(), u"tok"_s}, node(u"b"_s, failing.url())};
    rig.store.apply(next, false);
    // Published and saved at once; readings and statuses follow the id, errors are cleared.
    QCOMPARE(rig.store.nodes(), (QList<NodeRuntime>{
                                    {next[0], MetricsSnapshot::empty(), NodeStatus::offline, std::nullopt},
                                    {next[1], warm, NodeStatus::warning, std::nullopt},
                                    {next[2], MetricsSnapshot::empty(), NodeStatus::offline, std::nullopt},
                                }));
    QCOMPARE(rig.files.savedFile(), encodeNodeList(next));
    QVERIFY(waitIdle(rig.store));
    QCOMPARE(rig[1].metrics.cpuUsage, 34.0); // the poll under way lands on the record of its id
    QCOMPARE(added.requests().size(), 0);    // polled only from the next cycle on
    QVERIFY(rig.cycle());
    QCOMPARE(rig[0].metrics.cpuUsage, 55.0);
    QCOMPARE(slow.requests().last().header("X-Monitor-Token"), "tok");
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

void RefreshTest::redirects_data()
{
    // In the location and the message, %1 is the origin agent's port and %2 the other agent's.
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("message"); // empty: the redirect is followed and its reading applied
    const QString refused = u"agent 重定向到其他来源 %1，为保护令牌未跟随"_s;
    QTest::newRow("same origin keeps the token") << u"tok"_s << u"/real"_s << QString();
    // Every hop is checked and followed once, not only the first.
    QTest::newRow("chain of hops keeps the token") << u"tok"_s << u"/hop1"_s << QString();
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
    origin.setRoute("/hop1", {302, {}, {{"Location", "/hop2"}}});
    origin.setRoute("/hop2", {302, {}, {{"Location", "/real"}}});
    origin.answer(200, replyBody(sampleReading(7)));
    elsewhere.answer(200, replyBody(sampleReading(7)));
    Rig rig({node(u"a"_s, origin.url(), token)});
    QVERIFY(rig.cycle());

    FakeAgent &target = location.contains(u"%2"_s) ? elsewhere : origin;
    if (message.isEmpty()) {
        QCOMPARE(rig[0].errorMessage, std::nullopt);
        QCOMPARE(rig[0].status, NodeStatus::online);
        QCOMPARE(target.requests().last().requestLine, "GET /real HTTP/1.1");
        QCOMPARE(origin.requests().size() + elsewhere.requests().size(), location.contains(u"hop"_s) ? 4 : 2);
        const auto expected = token.isEmpty() ? std::nullopt : std::optional<QByteArray>(token.toUtf8());
        for (const FakeAgent *agent : {&origin, &elsewhere})
            for (const ReceivedRequest &request : agent->requests())
                QCOMPARE(request.header("X-Monitor-Token"), expected);
    } else {
        QCOMPARE(rig[0].errorMessage, ports(message));
        QCOMPARE(elsewhere.requests().size(), 0);
    }
}

QTEST_GUILESS_MAIN(RefreshTest)
#include "tst_refresh.moc"
