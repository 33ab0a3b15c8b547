// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "store/MonitorStore.h"

#include <QEventLoop>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <functional>
#include <limits>

#include <malloc.h>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

using Script = FakeAgent::Script;
using Behaviour = FakeAgent::Behaviour;
Q_DECLARE_METATYPE(vantor::test::FakeAgent::Script)

namespace {

constexpr qint64 mib = 1024 * 1024;
// The product's limits with every time at a tenth (an 8 s deadline becomes 800 ms); the size caps
// are the product's own.
const FetchLimits tenth{500, 800, 8 * mib};

// Under AddressSanitizer freed blocks stay resident in its quarantine (256 MiB by default), so
// memory grows by up to the quarantine.
#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr qint64 quarantine = 256 * mib;
#else
constexpr qint64 quarantine = 0;
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

// Starts the store's timer (unless `done` drives the cycles) and a first cycle, then turns the event loop
// until `done` holds (checked every 5 ms; the time limit only keeps a failing run from hanging), and checks
// that it ended, that every firing of the store's timer found the previous cycle over (so none was dropped)
// and that memory stayed bounded. How long the loop stood still is measured by bench_hostile, in a process of
// its own. Returns the number of cycles: the first and one per firing.
int watchLoop(MonitorStore &store, int limitMs, const std::function<bool()> &done, bool timer = true)
{
    malloc_trim(0);                              // memory freed earlier must not hide this run's growth
    QFile clearRefs(u"/proc/self/clear_refs"_s); // "5" lowers the peak (VmHWM) to the current size
    if (!clearRefs.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || clearRefs.write("5") != 1)
        qFatal("cannot reset the peak of resident memory");
    const qint64 before = procStatus("VmRSS");

    QEventLoop loop;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    int firings = 0, dropped = 0;
    if (timer) {
        store.scheduleTimer();
        // Connected after the store's own handler, which only posts the refresh: a cycle still running
        // here would make the store drop that refresh.
        QObject::connect(store.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly), &QTimer::timeout,
                         &loop, [&] { ++firings, dropped += store.isRefreshing(); });
    }
    store.refresh();
    ticker.start(5);
    loop.exec();
    const qint64 growth = before > 0 ? procStatus("VmHWM") - before : -1;
    qInfo("%s: %d timer firings; resident growth %lld KiB at the peak",
          QTest::currentDataTag() ? QTest::currentDataTag() : QTest::currentTestFunction(), firings,
          growth / 1024);
    [&] {
        QVERIFY(done());
        QCOMPARE(dropped, 0);
        QVERIFY2(growth >= 0 && growth < growthLimit, qPrintable(QString::number(growth)));
    }();
    return 1 + firings;
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
    const auto fails = [](const char *name, const Script &script, const QString &message) {
        QTest::newRow(name) << script << message << MetricsSnapshot();
    };
    const auto applies = [](const char *name, const MetricsSnapshot &reading) {
        QTest::newRow(name) << Script{.body = replyBody(reading)} << QString() << reading;
    };
    const auto withAlerts = [](qsizetype n) { return sampleReading(55, QStringList(n, u"warning"_s)); };

    const Script streamed{.body = R"({"alerts":[)", .streamLength = 1024 * mib};
    fails("1 GiB body, declared length", streamed, tooLarge);
    fails("endless chunked body", {.body = streamed.body, .streamLength = -1, .chunked = true}, tooLarge);
    fails("deeply nested JSON",
          {.body = "{\"deep\":" + QByteArray(200000, '[') + QByteArray(200000, ']') + '}'},
          u"JSON nesting deeper than 1024 levels"_s);
    QByteArray broken = replyBody(sampleReading(2, {u"warning"_s}));
    broken.replace("标题", "\xC3\x28\xFF\xFE");
    fails(
        "invalid UTF-8", {.body = broken},
        u"JSON syntax error at line 1, column 141: syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: '\"\uFFFD('"_s);
    fails("redirect loop", {302, {}, {{"Location", "/metrics"}}}, u"agent 重定向次数过多"_s);

    MetricsSnapshot extremes = sampleReading(1e308);
    extremes.memoryUsage = -0.0;
    extremes.uptimeSeconds = std::numeric_limits<double>::denorm_min();
    extremes.servicesTotal = std::numeric_limits<qint64>::max();
    applies("1e308, -0 and other extremes", extremes);
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

    FakeAgent victim, honest[2];
    victim.setScript(script);
    const MetricsSnapshot good = sampleReading(10, {u"warning"_s});
    for (FakeAgent &agent : honest)
        agent.answer(200, replyBody(good));
    TempNodeFiles files({{u"v"_s, u"V"_s, victim.url(), u"tok"_s},
                         {u"h"_s, u"H"_s, honest[0].url(), u"tok"_s},
                         {u"i"_s, u"I"_s, honest[1].url(), u"tok"_s}});
    MonitorStore store(files.locations());
    store.setFetchLimits(tenth);

    int cycles = 0; // a second cycle shows whether anything piles up
    watchLoop(
        store, 60000,
        [&] {
            if (!store.isRefreshing() && cycles < 2 && ++cycles < 2) store.refresh();
            return cycles == 2 && !store.isRefreshing();
        },
        false);

    for (int i : {1, 2})
        QCOMPARE(store.nodes()[i],
                 (NodeRuntime{store.nodes()[i].node, good, NodeStatus::warning, std::nullopt}));
    QCOMPARE(store.nodes()[0].errorMessage.value_or(QString()), message);
    QCOMPARE(store.nodes()[0].metrics, message.isEmpty() ? reading : MetricsSnapshot::empty());
    // One request a cycle, never sent again.
    if (script.status != 302) QCOMPARE(victim.requests().size(), 2);
}

// At the product's own limits and period, all at once in one store: however the hostile agents
// behave, the honest ones are polled every 10 s, the event loop keeps turning and memory stays
// bounded.
void HostileTest::cadenceBesideHostileAgents()
{
    const QString headTooLarge = u"agent 响应头超过 64 KiB 上限"_s, notHttp = u"HTTP 响应异常"_s;
    const auto raw = [](const QByteArray &head, const QByteArray &body, qint64 length) {
        return Script{.body = body, .behaviour = Behaviour::Raw, .streamLength = length, .head = head};
    };
    const QList<std::tuple<const char *, Script, QString>> cases{
        {"endless header lines", raw("HTTP/1.1 200 OK\r\n", "X-Filler: 0123456789\r\n", -1), headTooLarge},
        {"one 1 MiB header line", raw("HTTP/1.1 200 OK\r\nX-Line: ", "l", mib), headTooLarge},
        {"endless body of a 500",
         {.status = 500, .body = "error ", .sendLength = false, .streamLength = -1},
         notHttp},
        // Never quiet for 5 s, so only the overall deadline ends it.
        {"reply one byte per 4 s, head included",
         {.body = replyBody(sampleReading(1)), .behaviour = Behaviour::Trickle, .trickleIntervalMs = 4000},
         u"agent 未在 8 秒内完成响应"_s},
        {"bytes that are no HTTP at all", raw({}, QByteArray(4096, '\xff'), 0), notHttp},
    };
    QObject owner; // of the hostile agents
    QList<FakeAgent *> hostile;
    FakeAgent honest[2];
    QList<ServerNode> nodes;
    for (FakeAgent &agent : honest) {
        agent.answer(200, replyBody(sampleReading(20)));
        nodes.append({u"h%1"_s.arg(nodes.size()), u"H"_s, agent.url(), u"tok"_s});
    }
    for (const auto &[name, script, message] : cases) {
        hostile.append(new FakeAgent(&owner));
        hostile.back()->setScript(script);
        nodes.append({QString::fromLatin1(name), u"X"_s, hostile.back()->url(), u"tok"_s});
    }
    TempNodeFiles files(nodes);
    MonitorStore store(files.locations()); // at the product's limits

    constexpr int least = 4;
    const int cycles = watchLoop(store, (least + 2) * 10000, [&] {
        return honest[0].requests().size() >= least && honest[1].requests().size() >= least &&
               !store.isRefreshing();
    });
    for (const FakeAgent &agent : honest)
        QCOMPARE(agent.requests().size(), cycles); // once a cycle, and the timer missed none
    QCOMPARE(store.nodes()[0].status, NodeStatus::online);
    QCOMPARE(store.nodes()[1].status, NodeStatus::online);
    for (qsizetype i = 0; i < cases.size(); ++i) {
        QCOMPARE(store.nodes()[i + 2].errorMessage.value_or(QString()), std::get<2>(cases[i]));
        QCOMPARE(hostile[i]->requests().size(), cycles); // once a cycle, never again within it
    }
}

QTEST_GUILESS_MAIN(HostileTest)
#include "tst_hostile.moc"
