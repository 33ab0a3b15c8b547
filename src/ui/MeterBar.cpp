// SPDX-License-Identifier: MIT
#include "MeterBar.h"

#include "Format.h"
#include "Style.h"

#include <QPainter>

namespace vantor::ui {

MeterBar::MeterBar(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("progress"));
}

void MeterBar::setValue(double percent)
{
    const double f = barFraction(percent);
    if (f == m_fraction) return;
    m_fraction = f;
    update();
}

void MeterBar::setColor(ColorRole role)
{
    if (role == m_role) return;
    m_role = role;
    update();
}

void MeterBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track(0, 0, width(), height());
    const qreal radius = height() / 2.0;
    painter.setBrush(ui::color(ColorRole::Track));
    painter.drawRoundedRect(track, radius, radius);
    if (m_fraction > 0) {
        painter.setBrush(color());
        painter.drawRoundedRect(QRectF(0, 0, std::max(track.width() * m_fraction, qreal(height())), height()),
                                radius, radius);
    }
}

} // namespace vantor::ui
