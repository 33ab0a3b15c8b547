// SPDX-License-Identifier: MIT
#include "DetailMetric.h"

#include "ElidedLabel.h"
#include "Format.h"
#include "MeterBar.h"
#include "Style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vantor::ui {

using namespace Qt::StringLiterals;

DetailMetric::DetailMetric(const QString &title, double value, ColorRole color, QWidget *parent)
    : CardFrame(parent)
{
    m_title = label(title, TextStyle::Body, ColorRole::SecondaryText);
    m_percent = new ElidedLabel;
    m_percent->setFont(roundedNumber(31));
    m_percent->setMinimumText(u"100%"_s);
    m_bar = new MeterBar;
    m_bar->setColor(color);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);
    layout->addWidget(m_title);
    layout->addWidget(m_percent);
    layout->addWidget(m_bar);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    setValue(value);
}

void DetailMetric::setValue(double value)
{
    m_percent->setFullText(ui::percentText(value));
    m_bar->setValue(value);
}

QString DetailMetric::title() const
{
    return m_title->text();
}

QString DetailMetric::percentText() const
{
    return m_percent->fullText();
}

} // namespace vantor::ui
