// SPDX-License-Identifier: MIT
#include "SidebarEntry.h"

#include "ui/Style.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

namespace vantor {

using namespace vantor::ui;

SidebarEntry::SidebarEntry(bool highlight, QWidget *parent) : QAbstractButton(parent), m_highlight(highlight)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SidebarEntry::setSelected(bool selected)
{
    if (selected == m_selected) return;
    m_selected = selected;
    selectionChanged();
    update();
}

void SidebarEntry::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event->isAutoRepeat()) click();
        return;
    case Qt::Key_Up:
    case Qt::Key_Left:
        Q_EMIT stepRequested(-1);
        return;
    case Qt::Key_Down:
    case Qt::Key_Right:
        Q_EMIT stepRequested(1);
        return;
    default:
        QAbstractButton::keyPressEvent(event);
    }
}

void SidebarEntry::focusInEvent(QFocusEvent *event)
{
    // Like native sidebars: a ring for keyboard navigation, none for clicks or window activation.
    const Qt::FocusReason reason = event->reason();
    m_focusRing = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                  reason == Qt::OtherFocusReason || reason == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
    update();
}

void SidebarEntry::focusOutEvent(QFocusEvent *event)
{
    m_focusRing = false;
    QAbstractButton::focusOutEvent(event);
    update();
}

void SidebarEntry::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (m_selected && m_highlight) {
        const QColor fill = color(ColorRole::Selection);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(box, 8, 8);
    }
    if (m_focusRing && hasFocus()) {
        const QColor ring = color(ColorRole::FocusRing);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box, 8, 8);
    }
}

} // namespace vantor
