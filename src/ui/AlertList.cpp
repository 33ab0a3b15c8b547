// SPDX-License-Identifier: MIT
#include "AlertList.h"

#include "AlertRowDelegate.h"
#include "Icons.h"
#include "Style.h"

#include <QLabel>
#include <QListView>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace vantor::ui {

using namespace Qt::StringLiterals;

AlertList::AlertList(QWidget *parent) : CardFrame(parent), m_model(new AlertListModel(this))
{
    setAccessibleName(u"告警列表"_s);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    m_view = new QListView(this);
    m_view->setObjectName(u"alertRows"_s);
    m_view->setAccessibleName(u"告警列表"_s);
    m_view->setModel(m_model);
    m_delegate = new AlertRowDelegate(m_view);
    m_view->setItemDelegate(m_delegate);
    m_view->setLayoutMode(QListView::SinglePass);
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_view->setAutoScroll(false);
    m_view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Rows sit directly on the card: no background of the view's own.
    m_view->setAutoFillBackground(false);
    m_view->viewport()->setAutoFillBackground(false);
    QPalette clear = m_view->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    m_view->setPalette(clear);

    m_empty = new QWidget(this);
    m_empty->setObjectName(u"emptyState"_s);
    auto *emptyLayout = new QVBoxLayout(m_empty);
    emptyLayout->setContentsMargins(24, 24, 24, 24);
    emptyLayout->setSpacing(8);
    auto *shield = new QLabel(m_empty);
    const int shieldSize = QFontInfo(ui::font(TextStyle::Title2)).pixelSize() + 4;
    setIcon(shield, u"shield-check"_s, ColorRole::Green, shieldSize);
    shield->setAccessibleName(u"无告警"_s);
    auto *title = label(u"暂无告警"_s, TextStyle::Headline, ColorRole::PrimaryText, QFont::Normal, m_empty);
    auto *caption = label(u"所有节点均处于正常状态"_s, TextStyle::Caption, ColorRole::SecondaryText,
                          QFont::Normal, m_empty);
    for (QWidget *w :
         {static_cast<QWidget *>(shield), static_cast<QWidget *>(title), static_cast<QWidget *>(caption)})
        emptyLayout->addWidget(w, 0, Qt::AlignHCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view);
    layout->addWidget(m_empty);
    relayout();
}

void AlertList::setNodes(const QList<NodeRuntime> &nodes)
{
    if (!m_model->setEntries(gatherAlerts(nodes))) return;
    m_delegate->forget();
    const bool empty = m_model->rowCount() == 0;
    m_view->setHidden(empty);
    m_empty->setHidden(!empty);
    // Row heights depend on the width, which a hidden list may not have yet.
    if (isVisible())
        relayout();
    else
        m_stale = true;
}

bool AlertList::showsEmptyState() const
{
    return m_view->isHidden() && !m_empty->isHidden();
}

void AlertList::resizeEvent(QResizeEvent *event)
{
    CardFrame::resizeEvent(event);
    if (m_stale || event->size().width() != event->oldSize().width()) relayout();
}

void AlertList::showEvent(QShowEvent *event)
{
    CardFrame::showEvent(event);
    if (m_stale) relayout();
}

void AlertList::relayout()
{
    m_stale = false;
    const int rows = m_model->rowCount();
    m_view->setHidden(rows == 0);
    m_empty->setHidden(rows != 0);
    // The rows fill the card's width; the list is as tall as all of them (the host page scrolls),
    // within the largest height a widget may have.
    m_delegate->setRowWidth(width());
    qint64 height = 0;
    for (int row = 0; row < rows; ++row)
        height += m_delegate->rowHeight(m_model->index(row));
    m_view->setFixedHeight(int(std::min<qint64>(height, QWIDGETSIZE_MAX)));
    m_view->doItemsLayout();
}

} // namespace vantor::ui
