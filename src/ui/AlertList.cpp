#include "AlertList.h"

#include "AlertRowDelegate.h"
#include "Icons.h"
#include "Style.h"

#include <QLabel>
#include <QListView>
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
    m_view->setItemDelegate(new AlertRowDelegate(m_view));
    m_view->setUniformItemSizes(true);
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
    shield->setPixmap(iconPixmap(u"shield-check"_s, color::green(), shieldSize, devicePixelRatioF()));
    shield->setAccessibleName(u"无告警"_s);
    auto *title = label(u"暂无告警"_s, TextStyle::Headline, color::primaryText(), QFont::Normal, m_empty);
    auto *caption = label(u"所有节点均处于正常状态"_s, TextStyle::Caption, color::secondaryText(),
                          QFont::Normal, m_empty);
    for (QWidget *w :
         {static_cast<QWidget *>(shield), static_cast<QWidget *>(title), static_cast<QWidget *>(caption)})
        emptyLayout->addWidget(w, 0, Qt::AlignHCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view);
    layout->addWidget(m_empty);
    fitHeight();
}

void AlertList::setNodes(const QList<NodeRuntime> &nodes)
{
    if (m_model->setEntries(gatherAlerts(nodes))) fitHeight();
}

bool AlertList::showsEmptyState() const
{
    return m_view->isHidden() && !m_empty->isHidden();
}

void AlertList::fitHeight()
{
    const qsizetype rows = m_model->rowCount();
    m_view->setHidden(rows == 0);
    m_empty->setHidden(rows != 0);
    // As tall as all rows (the host page scrolls), within the largest height a widget may have.
    const qint64 height = std::min<qint64>(qint64(rows) * AlertRowDelegate::rowHeight(), QWIDGETSIZE_MAX);
    m_view->setFixedHeight(int(height));
}

} // namespace vantor::ui
