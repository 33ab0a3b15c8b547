// SPDX-License-Identifier: MIT
#include "CardFrame.h"

#include "Style.h"

#include <QPainter>
#include <QPainterPath>

namespace vantor::ui {

CardFrame::CardFrame(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground, false);
}

void CardFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color(ColorRole::CardBackground));
    painter.drawRoundedRect(QRectF(rect()), 14, 14);
}

} // namespace vantor::ui
