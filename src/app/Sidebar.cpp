// SPDX-License-Identifier: MIT
#include "Sidebar.h"

#include "NodeSidebarRow.h"
#include "SidebarButton.h"
#include "ui/Icons.h"
#include "ui/Style.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace vantor {

using namespace Qt::StringLiterals;
using namespace vantor::ui;

Sidebar::Sidebar(QWidget *parent) : QWidget(parent)
{
    setObjectName(u"sidebar"_s);
    setMinimumWidth(220);
    setBackground(this, ColorRole::SidebarBackground);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(18);

    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    auto *mark = new QLabel(this);
    const int markSize = QFontInfo(ui::font(TextStyle::Title2, QFont::Bold)).pixelSize() + 2;
    setIcon(mark, u"activity"_s, ColorRole::Blue, markSize);
    header->addWidget(mark);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(
        label(u"服务器监控"_s, TextStyle::Headline, ColorRole::PrimaryText, QFont::Normal, this));
    titles->addWidget(
        label(u"MacBook 控制台"_s, TextStyle::Caption, ColorRole::SecondaryText, QFont::Normal, this));
    header->addLayout(titles);
    header->addStretch(1);
    layout->addLayout(header);

    layout->addWidget(horizontalDivider(this));

    m_overviewEntry = new SidebarButton(SidebarButton::Selectable, u"grid-1x2"_s, u"总览"_s, this);
    m_overviewEntry->setObjectName(u"overviewEntry"_s);
    connect(m_overviewEntry, &SidebarEntry::clicked, this, &Sidebar::overviewChosen);
    connect(m_overviewEntry, &SidebarEntry::stepRequested, this,
            [this](int delta) { step(m_overviewEntry, delta); });
    layout->addWidget(m_overviewEntry);

    layout->addSpacing(6);
    layout->addWidget(label(u"节点"_s, TextStyle::Caption, ColorRole::SecondaryText, QFont::Normal, this));

    // Any number of nodes: the rows keep their height and the list scrolls when they do not fit.
    auto *rows = new QWidget;
    rows->setObjectName(u"sidebarRows"_s);
    m_rowsLayout = new QVBoxLayout(rows);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(18);
    m_rowsLayout->addStretch(1);
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(u"sidebarScroll"_s);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidget(rows);
    m_scroll->viewport()->setAutoFillBackground(false);
    rows->setAutoFillBackground(false);
    layout->addWidget(m_scroll, 1);

    m_settingsButton = new SidebarButton(SidebarButton::Plain, u"sliders"_s, u"连接设置"_s, this);
    m_settingsButton->setObjectName(u"settingsButton"_s);
    connect(m_settingsButton, &SidebarEntry::clicked, this, &Sidebar::settingsChosen);
    connect(m_settingsButton, &SidebarEntry::stepRequested, this,
            [this](int delta) { step(m_settingsButton, delta); });
    layout->addWidget(m_settingsButton);
}

void Sidebar::setNodes(const QList<NodeRuntime> &nodes, const std::optional<QString> &selectedID)
{
    QStringList ids;
    ids.reserve(nodes.size());
    for (const NodeRuntime &runtime : nodes)
        ids.append(runtime.id());
    rebuildRows(ids);

    for (qsizetype i = 0; i < nodes.size(); ++i) {
        m_rows[i]->setRuntime(nodes[i]);
        m_rows[i]->setSelected(selectedID && *selectedID == nodes[i].id());
    }
    m_overviewEntry->setSelected(!selectedID);
}

void Sidebar::rebuildRows(const QStringList &ids)
{
    if (ids == m_rowIds) return;

    // Keyboard focus on a row moves to the row with the same id, or to the overview entry.
    std::optional<QString> focusedId;
    for (NodeSidebarRow *row : std::as_const(m_rows)) {
        if (row->hasFocus()) focusedId = row->runtime().id();
    }
    const bool hadFocus = focusedId.has_value();

    qDeleteAll(m_rows);
    m_rows.clear();
    QWidget *previous = m_overviewEntry;
    NodeSidebarRow *refocus = nullptr;
    for (const QString &id : ids) {
        auto *row = new NodeSidebarRow(m_scroll->widget());
        connect(row, &SidebarEntry::clicked, this, [this, id] { Q_EMIT nodeChosen(id); });
        connect(row, &SidebarEntry::stepRequested, this, [this, row](int delta) { step(row, delta); });
        m_rowsLayout->insertWidget(m_rowsLayout->count() - 1, row); // before the closing stretch
        row->installEventFilter(this);
        row->show(); // at once, not on the next turn of the event loop, so it can take the focus
        setTabOrder(previous, row);
        previous = row;
        m_rows.append(row);
        if (focusedId && *focusedId == id && !refocus) refocus = row;
    }
    setTabOrder(previous, m_settingsButton);
    m_rowIds = ids;

    if (refocus)
        refocus->setFocus(Qt::OtherFocusReason);
    else if (hadFocus)
        m_overviewEntry->setFocus(Qt::OtherFocusReason);
}

bool Sidebar::eventFilter(QObject *watched, QEvent *event)
{
    // A row that takes the keyboard focus scrolls into view.
    if (event->type() == QEvent::FocusIn) {
        if (auto *row = qobject_cast<NodeSidebarRow *>(watched)) m_scroll->ensureWidgetVisible(row, 0, 0);
    }
    return QWidget::eventFilter(watched, event);
}

void Sidebar::step(SidebarEntry *from, int delta)
{
    QList<SidebarEntry *> entries{m_overviewEntry};
    for (NodeSidebarRow *row : std::as_const(m_rows))
        entries.append(row);
    entries.append(m_settingsButton);
    const qsizetype at = entries.indexOf(from) + delta;
    if (at >= 0 && at < entries.size()) entries[at]->setFocus(Qt::OtherFocusReason);
}

} // namespace vantor
