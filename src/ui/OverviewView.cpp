// SPDX-License-Identifier: MIT
#include "OverviewView.h"

#include "AlertList.h"
#include "Format.h"
#include "NodeCard.h"
#include "StoreObserver.h"
#include "Style.h"
#include "store/MonitorStore.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vantor::ui {

using namespace Qt::StringLiterals;

std::array<SummaryTile, 3> summaryTiles(const FleetFigures &f)
{
    const bool warning = f.warningCount != 0;
    return {{
        {u"在线节点"_s, QString::number(f.onlineCount) + u'/' + QString::number(f.nodeCount), u"当前可连接"_s,
         ColorRole::Green, u"check-circle-fill"_s},
        {u"活动告警"_s, QString::number(f.totalAlerts), warning ? u"需要关注"_s : u"运行平稳"_s,
         warning ? ColorRole::Orange : ColorRole::Green, u"bell-fill"_s},
        {u"平均 CPU"_s, percentText(f.averageCPU), u"三节点平均"_s, ColorRole::Blue, u"cpu-fill"_s},
    }};
}

OverviewView::OverviewView(MonitorStore *store, QWidget *parent) : QScrollArea(parent), m_store(store)
{
    setAccessibleName(u"运行总览"_s);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto *page = new QWidget;
    page->setObjectName(u"overviewPage"_s);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(22);

    // Headline with the time of the last update at the trailing edge.
    auto *headline = new QHBoxLayout;
    headline->setSpacing(defaultSpacing);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(5);
    titles->addWidget(label(u"运行总览"_s, TextStyle::LargeTitle, ColorRole::PrimaryText, QFont::Bold, page));
    titles->addWidget(label(u"三台服务器的健康状态与资源使用情况"_s, TextStyle::Body,
                            ColorRole::SecondaryText, QFont::Normal, page));
    headline->addLayout(titles);
    headline->addStretch(1);
    m_updated = label({}, TextStyle::Caption, ColorRole::SecondaryText, QFont::Normal, page);
    m_updated->setObjectName(u"updated"_s);
    m_updated->hide();
    headline->addWidget(m_updated, 0, Qt::AlignVCenter);
    layout->addLayout(headline);

    auto *tiles = new QHBoxLayout;
    tiles->setSpacing(14);
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        m_tiles[i] = new SummaryCard(page);
        m_tiles[i]->setObjectName(u"tile"_s + QString::number(i));
        tiles->addWidget(m_tiles[i], 1);
    }
    layout->addLayout(tiles);

    layout->addWidget(label(u"节点状态"_s, TextStyle::Title2, ColorRole::PrimaryText, QFont::Bold, page));

    m_grid = new QGridLayout;
    // As wide as the gaps between the summary tiles above, so the cards line up with them.
    m_grid->setHorizontalSpacing(14);
    m_grid->setVerticalSpacing(14);
    for (int column = 0; column < 3; ++column)
        m_grid->setColumnStretch(column, 1);
    layout->addLayout(m_grid);

    layout->addSpacing(4);
    layout->addWidget(label(u"最近告警"_s, TextStyle::Title2, ColorRole::PrimaryText, QFont::Bold, page));
    m_alerts = new AlertList(page);
    m_alerts->setObjectName(u"alerts"_s);
    layout->addWidget(m_alerts);
    layout->addStretch(1);

    setWidget(page);

    if (m_store) {
        new StoreObserver(m_store, this, [this] { reload(); });
        reload();
    } else {
        showContent({}, std::nullopt, {});
    }
}

void OverviewView::reload()
{
    if (!m_store) return;
    showContent(m_store->nodes(), m_store->lastUpdated(),
                {m_store->onlineCount(), m_store->nodes().size(), m_store->totalAlerts(),
                 m_store->warningCount(), m_store->averageCPU()});
}

void OverviewView::showContent(const QList<NodeRuntime> &nodes, const std::optional<QDateTime> &lastUpdated,
                               const FleetFigures &figures)
{
    if (lastUpdated) m_updated->setText(u"更新于 "_s + standardTime(*lastUpdated));
    m_updated->setVisible(lastUpdated.has_value());

    const auto tiles = summaryTiles(figures);
    for (std::size_t i = 0; i < tiles.size(); ++i)
        m_tiles[i]->setTile(tiles[i]);

    rebuildCards(nodes);
    for (qsizetype i = 0; i < nodes.size(); ++i)
        m_cards[i]->setRuntime(nodes[i]);

    m_alerts->setNodes(nodes);
}

void OverviewView::rebuildCards(const QList<NodeRuntime> &nodes)
{
    QStringList ids;
    ids.reserve(nodes.size());
    for (const NodeRuntime &runtime : nodes)
        ids.append(runtime.id());
    if (ids == m_cardIds) return; // same shape: the cards are updated in place

    qDeleteAll(m_cards);
    m_cards.clear();
    for (qsizetype i = 0; i < ids.size(); ++i) {
        auto *card = new NodeCard(widget());
        card->setObjectName(u"node:"_s + ids[i]);
        m_grid->addWidget(card, int(i / 3), int(i % 3));
        card->show();
        m_cards.append(card);
    }
    m_cardIds = ids;
}

} // namespace vantor::ui
