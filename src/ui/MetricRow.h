// SPDX-License-Identifier: MIT
#pragma once

#include "Style.h"

#include <QColor>
#include <QWidget>

namespace vantor::ui {

class ElidedLabel;
class MeterBar;

// A captioned percentage over a thin bar: the text truncates (79.9 reads 79%), the bar shows the
// exact fraction, limited to empty and full.
class MetricRow : public QWidget
{
    Q_OBJECT
public:
    explicit MetricRow(const QString &title, QWidget *parent = nullptr);

    void setValue(double percent);
    void setColor(ColorRole role);

    QString valueText() const;
    const MeterBar *bar() const { return m_bar; }

private:
    ElidedLabel *m_value;
    MeterBar *m_bar;
};

} // namespace vantor::ui
