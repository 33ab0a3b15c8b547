// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "store/MonitorStore.h"

#include <QElapsedTimer>
#include <QTest>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;
using Script = FakeAgent::Script;
Q_DECLARE_METATYPE(vantor::test::FakeAgent::Script)

namespace {

// Short limits keep failing cases quick; the product's limits are the defaults of FetchLimits.
const FetchLimits quick{600, 1500, 64 * 1024};

ServerNode node(const QString &id, const QString &address, const QString &token = {})
{
    return {id, id.toUpper(), address, token};
}

Script redirect(const QByteArray &location)
{
    return {302, {}, {{"Location", location}}};
}

// A store over its own node file.
struct Rig {
    TempNodeFiles files;
    MonitorStore store;
    explicit Rig(const QList<ServerNode> &nodes) : files(nodes), store(files.locations())
    {
        store.setFetchLimits(quick);
    }
    const NodeRuntime &operator[](qsizetype i) const { return store.nodes()[i]; }
};

} // namespace

class RefreshTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void success();
    void poll_data();
    void poll();
    void reportsLater();
    void productLimits();
    void applyDuringCycle();
    void storeReleasedDuringCycle();
};

// Two records share an id: both are polled, and the later-finishing result lands on the first.
void RefreshTest::success()
{
    FakeAgent late, calm, early;
    const MetricsSnapshot warnReading = sampleReading(30, {u"warning"_s, u"Critical"_s});
    const MetricsSnapshot calmReading = sampleReading(60);
    late.answer(200, replyBody(warnReading), 300);
    calm.answer(200, replyBody(calmReading));
    early.answer(200, replyBody(sampleReading(11)));
    Rig rig({node(u"w"_s, late.url()), node(u"c"_s, calm.url()), node(u"w"_s, early.url())});
    rig.store.refresh();
    rig.store.refresh(); // does nothing while a cycle runs
    QTest::qWait(150);
    QCOMPARE(rig[1].status, NodeStatus::offline); // answered, but published with the slowest
    QVERIFY(waitIdle(rig.store));
    QCOMPARE(rig.store.nodes(),
             (QList<NodeRuntime>{
                 {rig[0].node, warnReading, NodeStatus::warning, std::nullopt},
                 {rig[1].node, calmReading, NodeStatus::online, std::nullopt},
                 {rig[2].node, MetricsSnapshot::empty(), NodeStatus::offline, std::nullopt},
             }));
    for (const FakeAgent *agent : {&late, &calm, &early})
        QCOMPARE(agent->requests().size(), 1);
}

// A node that read well once meets, in the second cycle, the row's address, token or script for the
// origin agent's /metrics. In locations and messages, %1 is the origin agent's port and %2 the other's.
void RefreshTest::poll_data()
{
    QTest::addColumn<QString>("address"); // null: the origin agent
    QTest::addColumn<QString>("token");
    QTest::addColumn<Script>("script");
    QTest::addColumn<int>("requests");    // in the second cycle, over both agents
    QTest::addColumn<int>("ms");          // the least time the second cycle takes
    QTest::addColumn<QString>("message"); // empty: the reply is read and the node online

    const QByteArray good = replyBody(sampleReading(3));
    const QString port = QString::number(refusingPort()), tok = u"tok"_s, none;
    QTest::newRow("connection refused") << u"http://127.0.0.1:"_s + port + u"/metrics"_s << tok << Script{}
                                        << 0 << 0 << fetchMessages::connectionRefused();
    QTest::newRow("299, the last success, with a body of exactly the limit")
        << none << tok << Script{299, good + QByteArray(quick.maxBodyBytes - good.size(), ' ')} << 1 << 0
        << none;
    QTest::newRow("300, the first refusal")
        << none << tok << Script{300, good} << 1 << 0 << fetchMessages::badResponse();
    QTest::newRow("closed mid-reply")
        << none << tok
        << Script{.body = QByteArray(40, '{'), .headers = {{"Content-Length", "100"}}, .sendLength = false}
        << 1 << 0 << fetchMessages::replyCutShort();
    QTest::newRow("one byte over the body limit, read until close")
        << none << tok << Script{.body = QByteArray(quick.maxBodyBytes + 1, ' '), .sendLength = false} << 1
        << 0 << u"agent 响应超过 64 KiB 上限"_s;
    // A header value never keeps blanks at its edges, so a blank token arrives as an empty value.
    QTest::newRow("a blank token sends the header") << none << u" "_s << Script{200, good} << 1 << 0 << none;
    // Every hop is checked and followed once, not only the first.
    QTest::newRow("chain of hops keeps the token") << none << tok << redirect("/hop1") << 4 << 0 << none;
    QTest::newRow("other port with a token is refused")
        << none << tok << redirect("http://127.0.0.1:%2/real") << 1 << 0
        << u"agent 重定向到其他来源 http://127.0.0.1:%2，为保护令牌未跟随"_s;
    // The trickle sends a byte well inside the stall limit, so only the overall deadline can end it.
    QTest::newRow("trickling agent hits the deadline")
        << none << tok << Script{200, good, {}, 0, FakeAgent::Behaviour::Trickle, 50} << 1 << quick.deadlineMs
        << u"agent 未在 1.5 秒内完成响应"_s;
}

void RefreshTest::poll()
{
    QFETCH(QString, address);
    QFETCH(QString, token);
    QFETCH(Script, script);
    QFETCH(int, requests);
    QFETCH(int, ms);
    QFETCH(QString, message);

    FakeAgent origin, elsewhere;
    const auto ports = [&](QString text) {
        return text.replace(u"%1"_s, QString::number(origin.port()))
            .replace(u"%2"_s, QString::number(elsewhere.port()));
    };
    const MetricsSnapshot first = sampleReading(40, {u"critical"_s});
    origin.answer(200, replyBody(first));
    QList<ServerNode> nodes{node(u"v"_s, origin.url(), u"tok"_s)};
    Rig rig(nodes);
    rig.store.refresh();
    QVERIFY(waitIdle(rig.store));

    for (auto &[key, value] : script.headers)
        value = ports(QString::fromUtf8(value)).toUtf8();
    origin.setRoute("/metrics", script);
    origin.setRoute("/hop1", redirect("/hop2"));
    origin.setRoute("/hop2", redirect("/real"));
    origin.answer(200, replyBody(sampleReading(3)));
    elsewhere.answer(200, replyBody(sampleReading(3)));
    nodes[0] = node(u"v"_s, address.isNull() ? origin.url() : address, token);
    QElapsedTimer clock;
    clock.start();
    rig.store.apply(nodes, false); // keeps the readings and starts the next cycle
    QVERIFY(waitIdle(rig.store));
    QVERIFY2(clock.elapsed() >= ms, qPrintable(QString::number(clock.elapsed())));

    const QString actual = rig[0].errorMessage.value_or(QString());
    QCOMPARE(actual, ports(message));
    // A failure keeps the last good reading.
    QCOMPARE(rig[0],
             (actual.isEmpty() ? NodeRuntime{nodes[0], sampleReading(3), NodeStatus::online, std::nullopt}
                               : NodeRuntime{nodes[0], first, NodeStatus::offline, actual}));
    QCOMPARE(origin.requests().size() + elsewhere.requests().size(), 1 + requests);
    const auto expected = token.isEmpty() ? std::nullopt : std::optional(token.trimmed().toUtf8());
    for (const FakeAgent *agent : {&origin, &elsewhere})
        for (const ReceivedRequest &request : agent->requests().sliced(agent == &origin))
            QCOMPARE(request.header("X-Monitor-Token"), expected);
}

// `done` never runs inside fetch(), even for an address refused before any request.
void RefreshTest::reportsLater()
{
    FakeAgent agent;
    bool returned = false;
    QList<std::pair<bool, FetchResult>> calls; // whether fetch() had returned, and the result
    QObject context;
    fetch(node(u"v"_s, u"http://u:p@127.0.0.1:%1/metrics"_s.arg(agent.port()), u"tok"_s), FetchLimits{},
          &context, [&](const FetchResult &result) {
              calls.append({returned, result});
          });
    returned = true;
    QTRY_COMPARE(calls.size(), 1);
    QVERIFY(calls[0].first);
    QCOMPARE(calls[0].second.message, fetchMessages::userInfoRefused());
    QCOMPARE(agent.requests().size(), 0);
}

// The product's own limits, not shortened copies: an agent that goes quiet after its headers is
// given up after 5 s of silence, one that trickles a byte every 4 s after 8 s in all.
void RefreshTest::productLimits()
{
    FakeAgent quiet, trickling;
    quiet.setScript({.body = replyBody(sampleReading(1)), .behaviour = FakeAgent::Behaviour::HeadOnly});
    trickling.setScript({.body = replyBody(sampleReading(1)),
                         .behaviour = FakeAgent::Behaviour::Trickle,
                         .trickleIntervalMs = 4000});
    QHash<QString, std::pair<qint64, QString>> ended; // by node id: after how long, with which text
    QElapsedTimer clock;
    clock.start();
    QObject context;
    for (const FakeAgent *agent : {&quiet, &trickling})
        fetch(node(agent == &quiet ? u"q"_s : u"t"_s, agent->url()), FetchLimits{}, &context,
              [&](const FetchResult &r) {
                  ended.insert(r.nodeId, {clock.elapsed(), r.message.value_or(QString())});
              });
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 2, 60000);
    QCOMPARE(ended[u"q"_s].second, u"agent 5 秒内无响应"_s);
    QVERIFY2(ended[u"q"_s].first >= 5000, qPrintable(QString::number(ended[u"q"_s].first)));
    QCOMPARE(ended[u"t"_s].second, u"agent 未在 8 秒内完成响应"_s);
    QVERIFY2(ended[u"t"_s].first >= 8000, qPrintable(QString::number(ended[u"t"_s].first)));
}

void RefreshTest::applyDuringCycle()
{
    FakeAgent slow, failing, added;
    const MetricsSnapshot warm = sampleReading(33, {u"warning"_s});
    slow.answer(200, replyBody(warm));
    failing.answer(500, {});
    added.answer(200, replyBody(sampleReading(55)));
    Rig rig({node(u"a"_s, slow.url()), node(u"b"_s, failing.url())});
    rig.store.refresh();
    QVERIFY(waitIdle(rig.store));
    QVERIFY(rig[1].errorMessage);
    slow.answer(200, replyBody(sampleReading(34)), 300);
    rig.store.refresh();

    const QList<ServerNode> next{
        node(u"n"_s, added.url()), {u"a"_s, u"A2"_s, slow.url(), {}}, node(u"b"_s, failing.url())};
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
    rig.store.refresh();
    QVERIFY(waitIdle(rig.store));
    QCOMPARE(rig[0].metrics.cpuUsage, 55.0);
}

void RefreshTest::storeReleasedDuringCycle()
{
    FakeAgent agent;
    agent.answer(200, replyBody(sampleReading(1)), 150);
    TempNodeFiles files({node(u"a"_s, agent.url()), node(u"b"_s, QString())});
    const QByteArray fileBefore = files.savedFile();
    {
        MonitorStore store(files.locations());
        store.refresh();
        QTRY_COMPARE(agent.requests().size(), 1);
    }
    QTest::qWait(400); // past the agent's answer: nothing may touch the released store
    QCOMPARE(files.savedFile(), fileBefore);
}

QTEST_GUILESS_MAIN(RefreshTest)
#include "tst_refresh.moc"
