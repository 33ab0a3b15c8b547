// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "store/MonitorStore.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include <malloc.h>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

using Script = FakeAgent::Script;
using Behaviour = FakeAgent::Behaviour;
Q_DECLARE_METATYPE(vantor::test::FakeAgent::Script)

namespace {

constexpr qint64 mib = 1024 * 1024;
// The product's limits with every time at a tenth (a 4 s trickle becomes 400 ms); the size caps are
// the product's own.
const FetchLimits tenth{500, 800, 8 * mib};

// Under AddressSanitizer every allocation touches fresh pages and freed blocks stay resident in its
// quarantine (256 MiB by default): the event loop may stand still three times as long, and memory
// grows by up to the quarantine.
#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr qint64 gapLimitMs = 150, quarantine = 256 * mib;
#else
constexpr qint64 gapLimitMs = 50, quarantine = 0;
#endif
// A reply at the body cap is held three times over while it is decoded (the bytes, Qt's parse tree
// and the reading, which the allocator spreads thinly) beside the reading it replaces: up to about
// ten times the cap at the peak.
constexpr qint64 growthLimit = 12 * 8 * mib + quarantine;

// A field of /proc/self/status ("VmRSS", "VmHWM") in bytes, or -1.
qint64 procStatus(QByteArrayView field)
{
    QFile file(u"/proc/self/status"_s);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(field) && line.indexOf(':') == field.size())
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

// Nanoseconds this thread has spent ready to run but waiting for a CPU, or -1 when unknown.
qint64 runQueueWaitNs()
{
    QFile file(u"/proc/thread-self/schedstat"_s);
    const QList<QByteArray> fields =
        file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QList<QByteArray>();
    return fields.size() >= 2 ? fields[1].toLongLong() : -1;
}

struct LoopFigures {
    bool ended = false;
    qint64 maxBlockedMs = 0; // between two turns of the event loop, less the time spent waiting for a CPU
    qint64 elapsedMs = 0;
    qint64 growth = -1; // resident bytes at the peak (without a peak counter, at the end) over the start
};

// Turns the event loop until `done` holds (checked every 5 ms) or the time is up, recording the
// longest stretch the loop did not turn and the memory grown meanwhile. A plain QEventLoop waits:
// QTest's own waits sleep between turns and would show as gaps. Time spent waiting for a CPU (other
// tests running on a busy machine) is not the console's doing.
LoopFigures watchLoop(const std::function<bool()> &done, int limitMs, const std::function<void()> &start)
{
    malloc_trim(0);                              // memory freed earlier must not hide this run's growth
    QFile clearRefs(u"/proc/self/clear_refs"_s); // "5" lowers the peak (VmHWM) to the current size
    const bool peakKnown = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
    const qint64 before = procStatus("VmRSS");

    QElapsedTimer clock;
    qint64 last = 0, lastWait = runQueueWaitNs(), maxBlocked = 0;
    const auto mark = [&] {
        const qint64 now = clock.nsecsElapsed(), wait = runQueueWaitNs();
        maxBlocked = std::max(maxBlocked, now - last - (wait < 0 || lastWait < 0 ? 0 : wait - lastWait));
        last = now;
        lastWait = wait;
    };
    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        mark();
        if (done()) loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    clock.start();
    start();
    ticker.start(5);
    loop.exec();
    mark();
    const qint64 growth = before > 0 ? procStatus(peakKnown ? "VmHWM" : "VmRSS") - before : -1;
    return {done(), maxBlocked / (1000 * 1000), clock.elapsed(), growth};
}

void checkFigures(const LoopFigures &run)
{
    qInfo("%s: %lld ms; event loop blocked %lld ms at most; resident growth %lld KiB at the peak",
          QTest::currentDataTag() ? QTest::currentDataTag() : QTest::currentTestFunction(), run.elapsedMs,
          run.maxBlockedMs, run.growth / 1024);
    QVERIFY(run.ended);
    QVERIFY2(run.maxBlockedMs < gapLimitMs, qPrintable(QString::number(run.maxBlockedMs)));
    QVERIFY2(run.growth >= 0 && run.growth < growthLimit, qPrintable(QString::number(run.growth)));
}

Script trickled(Behaviour how, int intervalMs)
{
    return {.body = replyBody(sampleReading(1)), .behaviour = how, .trickleIntervalMs = intervalMs};
}

// The abuse shared by both tests: an endless head, a 1 MiB header line and an endless error body.
const Script headerStream{.body = "X-Filler: " + QByteArray(54, 'f') + "\r\n",
                          .behaviour = Behaviour::Raw,
                          .head = "HTTP/1.1 200 OK\r\n"};
const Script hugeHeaderLine{
    .body = "l", .behaviour = Behaviour::Raw, .streamLength = mib, .head = "HTTP/1.1 200 OK\r\nX-Line: "};
const Script endlessErrorBody{
    .status = 500, .body = "error ", .behaviour = Behaviour::Stream, .sendLength = false};

QByteArray garbage(qsizetype size)
{
    QRandomGenerator random(7);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

MetricsSnapshot withAlerts(qsizetype count)
{
    return sampleReading(55, QStringList(count, u"warning"_s));
}

} // namespace

class HostileTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // First, while the allocator holds nothing from the large replies of the rows below: what
    // they leave behind would otherwise show as this test's growth.
    void cadenceBesideHostileAgents();
    void hostileAgent_data();
    void hostileAgent();
};

void HostileTest::hostileAgent_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QString>("message"); // empty: the reading is valid and must be applied
    QTest::addColumn<MetricsSnapshot>("reading");

    const QString tooLarge = u"agent 响应超过 8 MiB 上限"_s;
    const QString headTooLarge = u"agent 响应头超过 64 KiB 上限"_s;
    const QString notHttp = u"HTTP 响应异常"_s;
    const auto fails = [](const char *name, const Script &script, const QString &message) {
        QTest::newRow(name) << script << message << MetricsSnapshot();
    };
    const auto applies = [](const char *name, const MetricsSnapshot &reading) {
        QTest::newRow(name) << Script{.body = replyBody(reading)} << QString() << reading;
    };

    const QByteArray noise = garbage(64 * 1024);
    fails("garbage instead of HTTP",
          {.body = noise, .behaviour = Behaviour::Raw, .streamLength = noise.size()}, notHttp);
    fails("endless garbage instead of HTTP", {.body = noise, .behaviour = Behaviour::Raw}, notHttp);
    fails(
        "garbage body", {.body = noise},
        u"JSON syntax error at line 1, column 1: syntax error while parsing value - invalid literal; last read: '\uFFFD'"_s);
    fails("endless header lines", headerStream, headTooLarge);
    fails("one 1 MiB header line", hugeHeaderLine, headTooLarge);
    fails("endless body of a 500", endlessErrorBody, notHttp);
    const Script streamed{
        .body = R"({"alerts":[)", .behaviour = Behaviour::Stream, .streamLength = 1024 * mib};
    fails("1 GiB body, declared length", streamed, tooLarge);
    Script untilClose = streamed, chunked = streamed;
    untilClose.sendLength = false;
    chunked.streamLength = -1;
    chunked.chunked = true;
    fails("1 GiB body until close", untilClose, tooLarge);
    fails("endless chunked body", chunked, tooLarge);
    // At a tenth: the body one byte per 4 s, the head one byte per second. Neither stalls; both
    // run into the overall deadline.
    fails("body trickled inside the stall limit", trickled(Behaviour::Trickle, 400),
          u"agent 未在 0.8 秒内完成响应"_s);
    fails("head trickled inside the stall limit", trickled(Behaviour::TrickleAll, 100),
          u"agent 未在 0.8 秒内完成响应"_s);
    fails("deeply nested JSON",
          {.body = "{\"deep\":" + QByteArray(200000, '[') + QByteArray(200000, ']') + '}'},
          u"JSON nesting deeper than 1024 levels"_s);
    QByteArray broken = replyBody(sampleReading(2, {u"warning"_s}));
    broken.replace("标题", "\xC3\x28\xFF\xFE");
    fails(
        "invalid UTF-8", {.body = broken},
        u"JSON syntax error at line 1, column 141: syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: '\"\uFFFD('"_s);
    fails("100,000 alerts", {.body = replyBody(withAlerts(100000))}, tooLarge);
    // A head cut off midway is not an HTTP reply.
    fails("closes mid-header", {.behaviour = Behaviour::CloseMidHead}, u"HTTP 响应异常"_s);
    fails("redirect loop", {302, {}, {{"Location", "/metrics"}}}, u"agent 重定向次数过多"_s);
    fails("accepts and never reads", {.behaviour = Behaviour::NeverRead}, u"agent 0.5 秒内无响应"_s);

    MetricsSnapshot extremes = sampleReading(1e308);
    extremes.memoryUsage = -0.0;
    extremes.diskUsage = -1e308;
    extremes.uptimeSeconds = std::numeric_limits<double>::denorm_min();
    extremes.servicesRunning = 0;
    extremes.servicesTotal = std::numeric_limits<qint64>::max();
    applies("1e308, -0 and other extremes", extremes);
    MetricsSnapshot enormous = sampleReading(66, {u"critical"_s});
    enormous.alerts[0].title = QString(tenth.maxBodyBytes - 1024, u'x');
    applies("enormous string", enormous);
    // As many alerts as a reply within the body cap can carry.
    const qsizetype base = replyBody(withAlerts(0)).size();
    const qsizetype each = replyBody(withAlerts(1)).size() - base + 1; // one more comma
    applies("alerts up to the body cap", withAlerts((tenth.maxBodyBytes - base) / each));
}

void HostileTest::hostileAgent()
{
    QFETCH(Script, script);
    QFETCH(QString, message);
    QFETCH(MetricsSnapshot, reading);

    FakeAgent victim, honest, other;
    victim.setScript(script);
    const MetricsSnapshot good = sampleReading(10, {u"warning"_s});
    honest.answer(200, replyBody(good));
    other.answer(200, replyBody(good));
    TempNodeFiles files({{u"v"_s, u"V"_s, victim.url(), u"tok"_s},
                         {u"h"_s, u"H"_s, honest.url(), u"tok"_s},
                         {u"o"_s, u"O"_s, other.url(), u"tok"_s}});
    MonitorStore store(files.locations());
    store.setFetchLimits(tenth);

    int cycles = 0; // a second cycle shows whether anything piles up
    checkFigures(watchLoop(
        [&] {
            if (!store.isRefreshing() && cycles < 2 && ++cycles < 2) store.refresh();
            return cycles == 2 && !store.isRefreshing();
        },
        40000, [&] { store.refresh(); }));

    for (qsizetype i : {1, 2})
        QCOMPARE(store.nodes()[i],
                 (NodeRuntime{store.nodes()[i].node, good, NodeStatus::warning, std::nullopt}));
    // One request a cycle, never sent again (an agent that never reads never shows a request).
    if (script.status / 100 != 3)
        QCOMPARE(victim.requests().size(), script.behaviour == Behaviour::NeverRead ? 0 : 2);

    const NodeRuntime &v = store.nodes()[0];
    QCOMPARE(v.errorMessage.value_or(QString()), message);
    QCOMPARE(v.status, message.isEmpty() ? reading.status() : NodeStatus::offline);
    if (message.isEmpty()) QCOMPARE(v.metrics, reading);
}

// At the product's own limits and period, all at once in one store: however the hostile agents
// behave, the two honest ones are polled every 10 s, the event loop keeps turning and memory stays
// bounded.
void HostileTest::cadenceBesideHostileAgents()
{
    struct Case {
        const char *name;
        Script script;
        QString message;
    };
    const QList<Case> cases{
        {"endless header lines", headerStream, u"agent 响应头超过 64 KiB 上限"_s},
        {"one 1 MiB header line", hugeHeaderLine, u"agent 响应头超过 64 KiB 上限"_s},
        {"endless body of a 500", endlessErrorBody, u"HTTP 响应异常"_s},
        {"body one byte per 4 s", trickled(Behaviour::Trickle, 4000), u"agent 未在 8 秒内完成响应"_s},
        // Never quiet for 5 s, so only the overall deadline ends it.
        {"head one byte per second", trickled(Behaviour::TrickleAll, 1000), u"agent 未在 8 秒内完成响应"_s},
        {"garbage",
         {.body = garbage(4096), .behaviour = Behaviour::Raw, .streamLength = 4096},
         u"HTTP 响应异常"_s},
    };
    std::vector<std::unique_ptr<FakeAgent>> hostile;
    FakeAgent honest, other;
    const MetricsSnapshot good = sampleReading(20);
    honest.answer(200, replyBody(good));
    other.answer(200, replyBody(good));
    QList<ServerNode> nodes{{u"h"_s, u"H"_s, honest.url(), u"tok"_s},
                            {u"o"_s, u"O"_s, other.url(), u"tok"_s}};
    for (const Case &c : cases) {
        hostile.push_back(std::make_unique<FakeAgent>());
        hostile.back()->setScript(c.script);
        nodes.append({QString::fromLatin1(c.name), u"X"_s, hostile.back()->url(), u"tok"_s});
    }
    TempNodeFiles files(nodes);
    MonitorStore store(files.locations()); // at the product's limits

    constexpr int cycles = 4;
    // As the window starts the store: the timer, then a first cycle at once. The cycle after the last
    // one would start at once.
    const LoopFigures run = watchLoop(
        [&] {
            return honest.requests().size() >= cycles && other.requests().size() >= cycles &&
                   !store.isRefreshing();
        },
        (cycles - 1) * 10000 + 9900,
        [&] {
            store.scheduleTimer();
            store.refresh();
        });
    checkFigures(run);
    for (const FakeAgent *agent : {&honest, &other})
        for (qsizetype i = 1; i < cycles; ++i) {
            const qint64 gap = agent->requests()[i].receivedAtMs - agent->requests()[i - 1].receivedAtMs;
            QVERIFY2(gap >= 8500 && gap <= 11500, qPrintable(u"poll %1 came after %2 ms"_s.arg(i).arg(gap)));
        }
    QCOMPARE(store.nodes()[0].status, NodeStatus::online);
    QCOMPARE(store.nodes()[1].status, NodeStatus::online);
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const NodeRuntime &record = store.nodes()[i + 2];
        QVERIFY2(record.errorMessage == cases[i].message,
                 qPrintable(record.node.id + u": "_s + record.errorMessage.value_or(u"(none)"_s)));
        QCOMPARE(record.status, NodeStatus::offline);
    }
    // A reply that is not HTTP is not asked again within the cycle.
    QCOMPARE(hostile.back()->requests().size(), cycles);
}

QTEST_GUILESS_MAIN(HostileTest)
#include "tst_hostile.moc"
