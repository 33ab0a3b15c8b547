// SPDX-License-Identifier: MIT
// Refresh cycles of a store over N fake agents on loopback that answer after a fixed delay:
// how much longer than the slowest agent a cycle takes, and the peak memory it needs. The agents are
// served from a second thread, the store runs on the main thread as in the console.

#include "FakeAgent.h"
#include "model/SnapshotEncoder.h"
#include "store/MonitorStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

constexpr int agentDelayMs = 200;
constexpr int cyclesPerRun = 5;

QByteArray replyBody()
{
    const QDateTime at = QDateTime::currentDateTimeUtc();
    MetricsSnapshot m;
    m.cpuUsage = 37.5;
    m.memoryUsage = 52;
    m.diskUsage = 71;
    m.uptimeSeconds = 123456;
    m.loadAverage = 0.8;
    m.servicesRunning = 6;
    m.servicesTotal = 6;
    m.observedAt = at;
    m.alerts = {makeAlert(u"warning"_s, u"磁盘空间偏高"_s, u"根分区使用率已达到 91%"_s, at)};
    return QJsonDocument(encodeSnapshot(m)).toJson(QJsonDocument::Compact);
}

QString peakRss()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) return u"?"_s;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return QString::fromLatin1(line.mid(6).simplified());
    return u"?"_s;
}

// One cycle's wall time in ms, from refresh() until the store is idle again.
double timeCycle(MonitorStore &store)
{
    QEventLoop loop;
    const auto connection = QObject::connect(&store, &MonitorStore::cycleEnded, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    store.refresh();
    loop.exec();
    const double elapsed = double(clock.nsecsElapsed()) / 1e6;
    QObject::disconnect(connection);
    return elapsed;
}

// The agents live on a thread of their own, so that serving them never holds up the store's event
// loop (real agents run on other machines); on a machine with few cores they still share the CPU.
class AgentHost
{
public:
    AgentHost(int count, const QByteArray &body)
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        onThread([&] {
            for (int i = 0; i < count; ++i) {
                m_agents.push_back(std::make_unique<test::FakeAgent>());
                m_agents.back()->answer(200, body, agentDelayMs);
                urls.append(m_agents.back()->url());
            }
        });
    }
    ~AgentHost()
    {
        onThread([this] { m_agents.clear(); });
        m_thread.quit();
        m_thread.wait();
    }

    // How long after `startMs` the last agent received its latest request.
    qint64 lastRequestAfter(qint64 startMs)
    {
        qint64 last = 0;
        onThread([&] {
            for (const auto &agent : m_agents)
                last = std::max(last, agent->requests().last().receivedAtMs - startMs);
        });
        return last;
    }

    QStringList urls;

private:
    template<class F> void onThread(F work)
    {
        QMetaObject::invokeMethod(&m_context, work, Qt::BlockingQueuedConnection);
    }

    QThread m_thread;
    QObject m_context;
    std::vector<std::unique_ptr<test::FakeAgent>> m_agents;
};

void run(int count)
{
    AgentHost agents(count, replyBody());
    QList<ServerNode> nodes;
    for (int i = 0; i < count; ++i) {
        const QString id = u"node-"_s + QString::number(i);
        nodes.append({id, id, agents.urls.at(i), u"bench"_s});
    }

    QTemporaryDir dir;
    const NodeLocations where{dir.path(), std::nullopt};
    persist(where, nodes);
    MonitorStore store(where);

    timeCycle(store); // the first cycle also opens the connections
    std::vector<double> times;
    std::vector<qint64> fanOuts;
    for (int c = 0; c < cyclesPerRun; ++c) {
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        times.push_back(timeCycle(store));
        fanOuts.push_back(agents.lastRequestAfter(start));
    }
    std::sort(times.begin(), times.end());
    std::sort(fanOuts.begin(), fanOuts.end());
    const double median = times[times.size() / 2];
    const qint64 online = store.onlineCount() + store.warningCount();

    std::printf(
        "N=%-4d cycle median %6.1f ms (min %.1f, max %.1f) | slowest agent %d ms | overhead %5.1f ms | "
        "last request sent after %lld ms | online %lld/%d | peak RSS %s\n",
        count, median, times.front(), times.back(), agentDelayMs, median - agentDelayMs,
        static_cast<long long>(fanOuts[fanOuts.size() / 2]), static_cast<long long>(online), count,
        qPrintable(peakRss()));
    // For scripts/bench; a run in which a node failed measures something else and reports nothing.
    if (online == count) std::printf("BENCH cycle_overhead_%d %.1f ms\n", count, median - agentDelayMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("%d cycles per run after one warm-up cycle; every agent answers after %d ms\n", cyclesPerRun,
                agentDelayMs);
    for (int count : {3, 300})
        run(count);
    return 0;
}
