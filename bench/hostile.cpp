// SPDX-License-Identifier: MIT
// Hostile reply bodies, each within the 8 MiB reply cap, through the console's whole decode
// (decodeSnapshot): the time of one decode and the growth of peak resident memory it causes. Every
// case runs in a child of its own, so memory freed by an earlier case cannot hide the growth of a later.
//
// Then the longest the event loop of a store stands still while it polls hostile agents beside an
// honest one. The agents run in a process of their own, so every stall measured is the console's.
//
// usage: bench_hostile
// Lines starting with "BENCH " are for scripts/bench: BENCH <key> <value> <unit>.

#include "FakeAgent.h"
#include "PeakMemory.h"
#include "Replies.h"
#include "model/Snapshot.h"
#include "store/MonitorStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <unistd.h>

using namespace vantor;
using namespace vantor::bench;

namespace {

struct Case {
    const char *key;
    const char *label;
    QByteArray body;
    bool decodes;
};

using Script = test::FakeAgent::Script;
using Behaviour = test::FakeAgent::Behaviour;

QList<Script> agentScripts()
{
    const auto raw = [](const QByteArray &head, const QByteArray &body, qint64 length) {
        return Script{.body = body, .behaviour = Behaviour::Raw, .streamLength = length, .head = head};
    };
    return {
        {.body = shortAlertsBody()}, // honest, and as large as a reading can be
        raw("HTTP/1.1 200 OK\r\n", "X-Filler: 0123456789\r\n", -1),
        raw("HTTP/1.1 200 OK\r\nX-Line: ", "l", 1024 * 1024),
        {.status = 500, .body = "error ", .sendLength = false, .streamLength = -1},
        {.body = R"({"alerts":[)", .streamLength = 1024LL * 1024 * 1024},
        raw({}, QByteArray(4096, '\xff'), 0),
    };
}

// Serves the agents until killed; their ports go to `out` first.
[[noreturn]] void serveAgents(int argc, char **argv, int out)
{
    QCoreApplication app(argc, argv);
    QList<quint16> ports;
    for (const Script &script : agentScripts()) {
        auto *agent = new test::FakeAgent(&app);
        agent->setScript(script);
        ports.append(agent->port());
    }
    if (write(out, ports.constData(), size_t(ports.size()) * sizeof(quint16)) < 0) _exit(1);
    close(out);
    _exit(app.exec());
}

// Nanoseconds this thread has spent ready to run but waiting for a CPU, or -1 when unknown.
qint64 runQueueWaitNs()
{
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(1, "-1").toLongLong() : -1;
}

// Cycles of one store at a tenth of the product's times over the agents; the longest gap between
// turns of its event loop, in ms, less the time the thread waited for a CPU (another program's doing).
double longestStall(int argc, char **argv, const QList<quint16> &ports, int cycles)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const NodeLocations where{dir.path(), std::nullopt};
    QList<ServerNode> nodes;
    for (const quint16 port : ports)
        nodes.append({QString::number(nodes.size()), QStringLiteral("N"),
                      QStringLiteral("http://127.0.0.1:%1/metrics").arg(port), QStringLiteral("tok")});
    persist(where, nodes);
    MonitorStore store(where);
    store.setFetchLimits({500, 800, 8 * 1024 * 1024});

    QElapsedTimer clock;
    qint64 last = 0, lastWait = runQueueWaitNs(), longest = 0;
    int started = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
        const qint64 now = clock.nsecsElapsed(), wait = runQueueWaitNs();
        longest = std::max(longest, now - last - (wait < 0 || lastWait < 0 ? 0 : wait - lastWait));
        last = now;
        lastWait = wait;
        if (store.isRefreshing()) return;
        if (started == cycles) return app.quit();
        ++started;
        store.refresh();
    });
    clock.start();
    ticker.start(5);
    app.exec();
    if (store.nodes().value(0).status == NodeStatus::offline)
        std::fprintf(stderr, "bench_hostile: honest agent offline\n");
    return double(longest) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    const Case cases[] = {
        {"nested", "466,000 x [[[[[[[[]]]]]]]] under an ignored key", nestedArraysBody(), true},
        {"string", "one 8 MiB string under an ignored key", hugeStringBody(), true},
        {"alerts", "an alert list filling the cap", shortAlertsBody(), true},
        {"deep", "nesting 1,024 deep, repeated to the cap", deepNestingBody(1024), true},
        {"deeper", "nesting 1,025 deep, repeated to the cap", deepNestingBody(1025), false},
    };
    int failures = 0;
    std::printf("%-44s %9s %9s %9s  %s\n", "body", "bytes", "ms", "peak MB", "result");
    for (const Case &c : cases) {
        const int status = inChild([&c] {
            std::variant<MetricsSnapshot, QString> decoded;
            const Peak peak = measurePeak([&] { decoded = decodeSnapshot(c.body); });
            const auto *snapshot = std::get_if<MetricsSnapshot>(&decoded);
            const QString result = snapshot
                                       ? QStringLiteral("decoded, %1 alerts").arg(snapshot->alerts.size())
                                       : std::get<QString>(decoded).left(60);
            std::printf("%-44s %9lld %9.1f %9.1f  %s\n", c.label, static_cast<long long>(c.body.size()),
                        peak.ms, peak.grownMb, qPrintable(result));
            std::printf("BENCH hostile_%s_ms %.1f ms\nBENCH hostile_%s_mb %.1f MB\n", c.key, peak.ms, c.key,
                        peak.grownMb);
            return bool(snapshot) == c.decodes ? 0 : 1;
        });
        if (status != 0) {
            std::fprintf(stderr, "bench_hostile: %s: unexpected result\n", c.key);
            ++failures;
        }
    }

    int channel[2];
    if (pipe(channel) != 0) return 1;
    const pid_t agents = fork();
    if (agents == 0) serveAgents(argc, argv, channel[1]);
    close(channel[1]);
    QList<quint16> ports(agentScripts().size());
    const auto expected = ssize_t(ports.size() * sizeof(quint16));
    const bool ready = read(channel[0], ports.data(), size_t(expected)) == expected;
    close(channel[0]);
    const double stall = ready ? longestStall(argc, argv, ports, 5) : -1;
    kill(agents, SIGKILL);
    waitpid(agents, nullptr, 0);
    if (stall < 0) return 1;
    std::printf(
        "\nevent loop beside 5 hostile agents and an 8 MiB honest reply, 5 cycles: longest stall %.1f ms\n",
        stall);
    std::printf("BENCH hostile_loop_stall_ms %.1f ms\n", stall);
    return failures ? 1 : 0;
}
