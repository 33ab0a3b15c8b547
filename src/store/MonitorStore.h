// SPDX-License-Identifier: MIT
#pragma once

#include "AgentClient.h"
#include "NodeFiles.h"
#include "model/NodeRuntime.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <optional>

class QTimer;

namespace vantor {

// The summary figures over a list of records, as the store computes them for its own list.
namespace figures {
qint64 totalAlerts(const QList<NodeRuntime> &nodes);  // alerts of every record's reading; notices never
qint64 onlineCount(const QList<NodeRuntime> &nodes);  // records that are online
qint64 warningCount(const QList<NodeRuntime> &nodes); // records in warning or critical
double averageCPU(const QList<NodeRuntime> &nodes);   // over every record, whatever its status
} // namespace figures

// The one observable object of a window: node records, flags, the polling timer and the refresh cycle.
// changed() is sent after every assignment of a published property, in the order of the assignments,
// so whoever reads the store on it reads a consistent store; a refresh sends many, and observers
// coalesce them. cycleEnded() is sent once per completed refresh cycle, after isRefreshing is false.
class MonitorStore : public QObject
{
    Q_OBJECT
public:
    explicit MonitorStore(QObject *parent = nullptr); // loads from NodeLocations::standard()
    explicit MonitorStore(const NodeLocations &where, QObject *parent = nullptr);
    ~MonitorStore() override;

    // Published properties.
    const QList<NodeRuntime> &nodes() const { return m_nodes; }
    bool demoMode() const { return m_demoMode; }
    bool isRefreshing() const { return m_isRefreshing; }
    const std::optional<QDateTime> &lastUpdated() const { return m_lastUpdated; }
    double refreshInterval() const { return 10; }

    // Derived figures, computed afresh on every read.
    qint64 totalAlerts() const { return figures::totalAlerts(m_nodes); }
    qint64 onlineCount() const { return figures::onlineCount(m_nodes); }
    qint64 warningCount() const { return figures::warningCount(m_nodes); }
    double averageCPU() const { return figures::averageCPU(m_nodes); }

    void scheduleTimer();
    void refresh();
    void apply(const QList<ServerNode> &nodes, bool demoMode);

    qint64 tick() const { return m_tick; }
    const NodeLocations &locations() const { return m_locations; }
    void setFetchLimits(const FetchLimits &limits) { m_limits = limits; }

Q_SIGNALS:
    void changed();
    void cycleEnded();

private:
    void startLiveCycle();
    void finishLiveCycle(const QList<FetchResult> &results);
    void applyReading(qsizetype index, const MetricsSnapshot &reading);
    void setRefreshing(bool value);
    void setLastUpdatedNow();
    void noteOutcome(const NodeRuntime &record, const FetchResult &result);

    NodeLocations m_locations;
    FetchLimits m_limits;
    QList<NodeRuntime> m_nodes;
    bool m_demoMode = false;
    bool m_isRefreshing = false;
    std::optional<QDateTime> m_lastUpdated;
    QPointer<QTimer> m_timer;
    qint64 m_tick = 0;
    QSet<QString> m_failing; // node ids whose last live poll failed, for the log
};

} // namespace vantor
