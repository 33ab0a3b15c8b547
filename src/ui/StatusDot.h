// SPDX-License-Identifier: MIT
#pragma once

#include "Style.h"

#include <QColor>
#include <QWidget>

namespace vantor::ui {

// A filled circle of a fixed diameter, used for status and data-source indicators.
class StatusDot : public QWidget
{
    Q_OBJECT
public:
    explicit StatusDot(int diameter, QWidget *parent = nullptr);
    void setColor(ColorRole role);
    QColor color() const { return ui::color(m_role); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ColorRole m_role = ColorRole::Gray;
};

} // namespace vantor::ui
