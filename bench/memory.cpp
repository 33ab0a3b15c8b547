// SPDX-License-Identifier: MIT
// Resident memory of the console window after refresh cycles: the real ContentView on the offscreen
// platform, polling three fake agents on loopback that answer with a typical reply. The agents run in a
// child process so that their memory is not counted. Cycles follow one another at once (the toolbar's
// refresh, not the 10-second timer); after each the window redraws. VmRSS is read after 10 cycles, and
// again after 100 to show whether it keeps growing.
//
// usage: bench_memory [cycles]   (default 100, at most 10,000, with nine interim readings above 100;
//                                 touches only a temporary folder; stops by itself)
// Lines starting with "BENCH " are for scripts/bench.

#include "FakeAgent.h"
#include "Replies.h"
#include "app/ContentView.h"
#include "store/MonitorStore.h"
#include "ui/Style.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QPixmapCache>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

// The agents' process: three fake agents, their ports written to `out`, until the parent goes away.
int agentsMain(int argc, char **argv, int out)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<test::FakeAgent>> agents;
    for (int i = 0; i < 3; ++i) {
        agents.push_back(std::make_unique<test::FakeAgent>());
        agents.back()->answer(200, bench::typicalReply);
        const quint16 port = agents.back()->port();
        if (write(out, &port, sizeof port) != sizeof port) return 1;
    }
    close(out);
    QTimer::singleShot(600000, &app, &QCoreApplication::quit);
    return app.exec();
}

// kB figures of /proc/self/status, e.g. field("VmRSS:").
long statusKb(const char *field)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(qstrlen(field)).simplified().split(' ').value(0).toLong();
    return -1;
}

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Lets the event loop run for `ms`, so that queued updates and repaints happen.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits until the store has finished the cycle it is running; false after 10 s.
bool waitForCycle(MonitorStore &store)
{
    QEventLoop loop;
    QObject::connect(&store, &MonitorStore::cycleEnded, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (store.isRefreshing()) loop.exec();
    return !store.isRefreshing();
}

void printMemory(const char *when)
{
    // In use by malloc against what the process holds: tells growth of live data from retention.
    const struct mallinfo2 heap = mallinfo2();
    std::printf(
        "%-20s VmRSS %6ld kB (anonymous %6ld, file-backed %6ld)  malloc in use %6zu kB, held %6zu kB\n", when,
        statusKb("VmRSS:"), statusKb("RssAnon:"), statusKb("RssFile:"), heap.uordblks / 1024,
        (heap.arena + heap.hblkhd) / 1024);
}

} // namespace

int main(int argc, char **argv)
{
    const int total = argc > 1 ? std::clamp(std::atoi(argv[1]), 10, 10000) : 100;
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t agentsPid = fork(); // before any Qt object exists
    if (agentsPid == 0) {
        close(fds[0]);
        return agentsMain(1, argv, fds[1]);
    }
    close(fds[1]);
    QList<quint16> ports;
    for (quint16 port = 0; ports.size() < 3 && read(fds[0], &port, sizeof port) == sizeof port;)
        ports.append(port);
    close(fds[0]);
    const auto stopAgents = [agentsPid] {
        kill(agentsPid, SIGTERM);
        waitpid(agentsPid, nullptr, 0);
    };
    if (ports.size() != 3) {
        stopAgents();
        std::fprintf(stderr, "bench_memory: the fake agents did not start\n");
        return 1;
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int status = 0;
    {
        int qtArgc = 1; // the cycle count is ours
        QApplication app(qtArgc, argv);
        app.setApplicationName(u"Vantor"_s);
        ui::applyLook(app);

        QTemporaryDir data;
        QList<ServerNode> nodes;
        const QStringList names = {u"东京节点"_s, u"新加坡节点"_s, u"法兰克福节点"_s};
        for (int i = 0; i < 3; ++i)
            nodes.append({u"node-"_s + QString::number(i),
                          names[i],
                          u"http://127.0.0.1:%1/metrics"_s.arg(ports[i]),
                          {}});
        const NodeLocations where{data.path(), std::nullopt};
        persist(where, nodes);

        ContentView window(where);
        window.show(); // starts the first cycle on the next turn of the event loop
        settle(50);
        printMemory("first window:");

        int cycles = 0;
        bool ok = true;
        double cpuAfterFirst = 0;
        for (; cycles < total && ok; ++cycles) {
            if (cycles == 1) cpuAfterFirst = threadCpuMs();
            if (cycles > 0) window.store()->refresh();
            ok = waitForCycle(*window.store());
            settle(20); // the window's update and repaint
            ok = ok && window.store()->onlineCount() + window.store()->warningCount() == 3;
            if (total > 100 && (cycles + 1) % (total / 10) == 0 && cycles + 1 < total) {
                const QByteArray when = "after " + QByteArray::number(cycles + 1) + " cycles:";
                printMemory(when.constData());
            }
            if (cycles + 1 == 10) {
                printMemory("after 10 cycles:");
                std::printf("BENCH rss_10_cycles %.1f MB\n", double(statusKb("VmRSS:")) / 1024.0);
            }
        }
        if (!ok) {
            std::fprintf(stderr, "bench_memory: cycle %d did not bring every node online\n", cycles);
            status = 1;
        } else {
            // What the window's own thread spends on one live cycle: requests, results, update, repaint.
            std::printf("main-thread CPU per cycle (cycles 2 to %d): %.2f ms\n", total,
                        (threadCpuMs() - cpuAfterFirst) / (total - 1));
            const QByteArray when = "after " + QByteArray::number(total) + " cycles:";
            printMemory(when.constData());
            // Shows how much of the growth is icon pixmaps kept in Qt's global pixmap cache.
            QPixmapCache::clear();
            printMemory("pixmap cache cleared:");
        }
    }
    stopAgents();
    return status;
}
