// SPDX-License-Identifier: MIT
#include "StatusDot.h"

#include <QPainter>

namespace vantor::ui {

StatusDot::StatusDot(int diameter, QWidget *parent) : QWidget(parent)
{
    setFixedSize(diameter, diameter);
}

void StatusDot::setColor(ColorRole role)
{
    if (role == m_role) return;
    m_role = role;
    update();
}

void StatusDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color());
    painter.drawEllipse(QRectF(rect()));
}

} // namespace vantor::ui
