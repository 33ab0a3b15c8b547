// SPDX-License-Identifier: MIT
#pragma once

#include "CardFrame.h"

#include "Style.h"

#include <QColor>
#include <QString>

class QLabel;

namespace vantor::ui {

class ElidedLabel;
class MeterBar;

// A usage tile of the node page: caption, the truncated percentage in large figures and a bar in
// one fixed tint, on the card background.
class DetailMetric : public CardFrame
{
    Q_OBJECT
public:
    DetailMetric(const QString &title, double value, ColorRole color, QWidget *parent = nullptr);

    void setValue(double value);

    QString title() const;
    QString percentText() const;
    const MeterBar *bar() const { return m_bar; }

private:
    QLabel *m_title;
    ElidedLabel *m_percent;
    MeterBar *m_bar;
};

} // namespace vantor::ui
