// SPDX-License-Identifier: MIT
#pragma once

#include "SummaryCard.h"
#include "model/NodeRuntime.h"

#include <QDateTime>
#include <QList>
#include <QScrollArea>

#include <array>
#include <optional>

class QGridLayout;
class QLabel;

namespace vantor {
class MonitorStore;
}

namespace vantor::ui {

class AlertList;
class NodeCard;

// The store's summary figures that the tiles show.
struct FleetFigures {
    qint64 onlineCount = 0;
    qint64 nodeCount = 0;
    qint64 totalAlerts = 0;
    qint64 warningCount = 0;
    double averageCPU = 0;
};

// The three tiles: servers online, active alerts (orange while any node warns), average CPU.
std::array<SummaryTile, 3> summaryTiles(const FleetFigures &figures);

// The fleet at a glance on one scrolling page: headline with the update time, summary tiles, one
// card per node and the alerts of all nodes. It follows the store by itself and updates in place.
class OverviewView : public QScrollArea
{
    Q_OBJECT
public:
    // With a null store the page shows only what showContent() is given.
    explicit OverviewView(MonitorStore *store, QWidget *parent = nullptr);

    void showContent(const QList<NodeRuntime> &nodes, const std::optional<QDateTime> &lastUpdated,
                     const FleetFigures &figures);
    void reload(); // from the store

private:
    void rebuildCards(const QList<NodeRuntime> &nodes);

    MonitorStore *m_store;
    QLabel *m_updated;
    std::array<SummaryCard *, 3> m_tiles{};
    QGridLayout *m_grid;
    QList<NodeCard *> m_cards;
    QStringList m_cardIds;
    AlertList *m_alerts;
};

} // namespace vantor::ui
