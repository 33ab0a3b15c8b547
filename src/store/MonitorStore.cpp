// SPDX-License-Identifier: MIT
#include "MonitorStore.h"

#include "DemoMetrics.h"
#include "Logging.h"

#include <QTimer>
#include <QUrl>

#include <algorithm>

#include <functional>

namespace vantor {

using namespace Qt::StringLiterals;

namespace {

// Collects the results of one live cycle in the order the polls end. A child of the store, and the
// parent of the cycle's requests: releasing the store aborts them and nothing is written.
class CycleCollector : public QObject
{
    Q_OBJECT
public:
    CycleCollector(qsizetype expected, std::function<void(const QList<FetchResult> &)> finish,
                   QObject *parent)
        : QObject(parent), m_expected(expected), m_finish(std::move(finish))
    {
        if (m_expected == 0)
            QMetaObject::invokeMethod(
                this, [this] { complete(); }, Qt::QueuedConnection);
    }

    void add(const FetchResult &result)
    {
        m_results.append(result);
        if (m_results.size() == m_expected) complete();
    }

private:
    void complete()
    {
        const QList<FetchResult> results = std::move(m_results);
        auto finish = std::move(m_finish);
        deleteLater();
        finish(results);
    }

    qsizetype m_expected;
    std::function<void(const QList<FetchResult> &)> m_finish;
    QList<FetchResult> m_results;
};

} // namespace

MonitorStore::MonitorStore(QObject *parent) : MonitorStore(NodeLocations::standard(), parent) {}

MonitorStore::MonitorStore(const NodeLocations &where, QObject *parent) : QObject(parent), m_locations(where)
{
    QList<NodeRuntime> records;
    for (const ServerNode &node : loadNodes(m_locations, defaultNodes()))
        records.append(NodeRuntime{node, MetricsSnapshot::empty(), NodeStatus::offline, std::nullopt});
    // Nobody can observe the store yet, but every assignment still announces itself.
    m_nodes = std::move(records);
    Q_EMIT changed();
    m_demoMode = false;
    Q_EMIT changed();
}

MonitorStore::~MonitorStore() = default;

namespace figures {

qint64 totalAlerts(const QList<NodeRuntime> &nodes)
{
    qint64 total = 0;
    for (const NodeRuntime &record : nodes)
        total += record.metrics.alerts.size();
    return total;
}

qint64 onlineCount(const QList<NodeRuntime> &nodes)
{
    return std::count_if(nodes.begin(), nodes.end(),
                         [](const NodeRuntime &r) { return r.status == NodeStatus::online; });
}

qint64 warningCount(const QList<NodeRuntime> &nodes)
{
    return std::count_if(nodes.begin(), nodes.end(), [](const NodeRuntime &r) {
        return r.status == NodeStatus::warning || r.status == NodeStatus::critical;
    });
}

double averageCPU(const QList<NodeRuntime> &nodes)
{
    if (nodes.isEmpty()) return 0;
    double sum = 0; // added in list order
    for (const NodeRuntime &record : nodes)
        sum += record.metrics.cpuUsage;
    return sum / double(nodes.size());
}

} // namespace figures

void MonitorStore::scheduleTimer()
{
    delete m_timer.data(); // a replaced timer must never fire again
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer); // the period restarts exactly at every call
    m_timer->setInterval(std::chrono::milliseconds(qint64(refreshInterval() * 1000)));
    // The firing only posts the refresh, so it never runs inside the timer's own emission. The post
    // goes to the store, so Qt drops it if the store is released first.
    connect(m_timer, &QTimer::timeout, this,
            [this] { QMetaObject::invokeMethod(this, &MonitorStore::refresh, Qt::QueuedConnection); });
    m_timer->start();
}

void MonitorStore::apply(const QList<ServerNode> &nodes, bool demoMode)
{
    QList<NodeRuntime> records;
    records.reserve(nodes.size());
    for (const ServerNode &node : nodes) {
        const auto old = std::find_if(m_nodes.cbegin(), m_nodes.cend(),
                                      [&](const NodeRuntime &r) { return r.node.id == node.id; });
        if (old != m_nodes.cend())
            records.append(NodeRuntime{node, old->metrics, old->status, std::nullopt});
        else
            records.append(NodeRuntime{node, MetricsSnapshot::empty(), NodeStatus::offline, std::nullopt});
    }
    m_nodes = std::move(records);
    Q_EMIT changed();
    m_demoMode = demoMode;
    Q_EMIT changed();
    persist(m_locations, nodes); // a failed save is dropped: the new list still holds for this run
    scheduleTimer();
    refresh();
}

void MonitorStore::refresh()
{
    if (m_isRefreshing) return;
    setRefreshing(true);
    if (!m_demoMode) {
        startLiveCycle();
        return;
    }
    ++m_tick;
    const qsizetype count = m_nodes.size();
    for (qsizetype i = 0; i < count; ++i)
        applyReading(i, demoMetrics(i, m_tick, QDateTime::currentDateTime()));
    setLastUpdatedNow();
    setRefreshing(false);
    Q_EMIT cycleEnded();
}

void MonitorStore::startLiveCycle()
{
    QList<ServerNode> polled;
    polled.reserve(m_nodes.size());
    for (const NodeRuntime &record : m_nodes)
        polled.append(record.node);

    auto *cycle = new CycleCollector(
        polled.size(), [this](const QList<FetchResult> &results) { finishLiveCycle(results); }, this);
    for (const ServerNode &node : polled)
        fetch(node, m_limits, cycle, [cycle](const FetchResult &result) { cycle->add(result); });
}

void MonitorStore::finishLiveCycle(const QList<FetchResult> &results)
{
    for (const FetchResult &result : results) {
        // The list may have been replaced meanwhile: match by id, first record wins.
        const auto it = std::find_if(m_nodes.cbegin(), m_nodes.cend(),
                                     [&](const NodeRuntime &r) { return r.node.id == result.nodeId; });
        if (it == m_nodes.cend()) continue;
        const qsizetype index = it - m_nodes.cbegin();
        noteOutcome(*it, result);
        if (result.reading) {
            applyReading(index, *result.reading);
        } else {
            m_nodes[index].status = NodeStatus::offline;
            Q_EMIT changed();
            m_nodes[index].errorMessage = result.message.value_or(fetchMessages::noConnection());
            Q_EMIT changed();
        }
    }
    setLastUpdatedNow();
    setRefreshing(false);
    Q_EMIT cycleEnded();
}

// One line when a node starts failing (with the reason) and one when it answers again; a node that
// keeps failing or keeps answering stays quiet, except at debug level.
void MonitorStore::noteOutcome(const NodeRuntime &record, const FetchResult &result)
{
    const QString who = record.node.id + u" ("_s + record.node.name + u", "_s +
                        QUrl(record.node.address).toDisplayString(QUrl::RemoveUserInfo) + u')';
    if (result.reading) {
        if (m_failing.remove(record.node.id)) qCInfo(lcPoll, "%s answers again", qUtf8Printable(who));
        return;
    }
    const QString reason = result.message.value_or(fetchMessages::noConnection());
    if (!m_failing.contains(record.node.id)) {
        m_failing.insert(record.node.id);
        qCWarning(lcPoll, "%s is offline: %s", qUtf8Printable(who), qUtf8Printable(reason));
    } else {
        qCDebug(lcPoll, "%s still offline: %s", qUtf8Printable(who), qUtf8Printable(reason));
    }
}

void MonitorStore::applyReading(qsizetype index, const MetricsSnapshot &reading)
{
    m_nodes[index].metrics = reading;
    Q_EMIT changed();
    m_nodes[index].status = m_nodes[index].metrics.status();
    Q_EMIT changed();
    m_nodes[index].errorMessage.reset();
    Q_EMIT changed();
}

void MonitorStore::setRefreshing(bool value)
{
    m_isRefreshing = value;
    Q_EMIT changed();
}

void MonitorStore::setLastUpdatedNow()
{
    m_lastUpdated = QDateTime::currentDateTime();
    Q_EMIT changed();
}

} // namespace vantor

#include "MonitorStore.moc"
