#include "MeterBar.h"

#include "Format.h"

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

void MeterBar::setColor(const QColor &color)
{
    if (color == m_color) return;
    m_color = color;
    update();
}

void MeterBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track(0, 0, width(), height());
    const qreal radius = height() / 2.0;
    painter.setBrush(QColor(0, 0, 0, 22));
    painter.drawRoundedRect(track, radius, radius);
    if (m_fraction > 0) {
        painter.setBrush(m_color);
        painter.drawRoundedRect(QRectF(0, 0, std::max(track.width() * m_fraction, qreal(height())), height()),
                                radius, radius);
    }
}

} // namespace vantor::ui
