// SPDX-License-Identifier: MIT
#pragma once

#include "Style.h"

#include <QColor>
#include <QWidget>

namespace vantor::ui {

// A thin horizontal progress bar: a rounded track with a filled part in one tint.
class MeterBar : public QWidget
{
    Q_OBJECT
public:
    explicit MeterBar(QWidget *parent = nullptr);

    // A percentage; the bar fills value / 100, limited to 0..1.
    void setValue(double percent);
    void setColor(ColorRole role);
    double fraction() const { return m_fraction; }
    QColor color() const { return ui::color(m_role); }

    QSize sizeHint() const override { return {120, 6}; }
    QSize minimumSizeHint() const override { return {10, 6}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_fraction = 0;
    ColorRole m_role = ColorRole::Blue;
};

} // namespace vantor::ui
