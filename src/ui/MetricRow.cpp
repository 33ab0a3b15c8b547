// SPDX-License-Identifier: MIT
#include "MetricRow.h"

#include "ElidedLabel.h"
#include "Format.h"
#include "MeterBar.h"
#include "Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vantor::ui {

using namespace Qt::StringLiterals;

MetricRow::MetricRow(const QString &title, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);

    auto *line = new QHBoxLayout;
    line->setSpacing(defaultSpacing);
    line->addWidget(label(title, TextStyle::Caption, ColorRole::SecondaryText, QFont::Normal, this));
    line->addStretch(1);
    m_value = elidedLabel(TextStyle::Caption, ColorRole::PrimaryText, QFont::Normal, this);
    m_value->setFont(monospaced(TextStyle::Caption));
    m_value->setMinimumText(u"100%"_s);
    m_value->setFullText(percentText(0));
    line->addWidget(m_value);
    layout->addLayout(line);

    m_bar = new MeterBar(this);
    m_bar->setAccessibleName(title);
    layout->addWidget(m_bar);
}

void MetricRow::setValue(double percent)
{
    const QString text = percentText(percent);
    m_value->setFullText(text);
    m_bar->setValue(percent);
    m_bar->setAccessibleDescription(text);
}

void MetricRow::setColor(ColorRole role)
{
    m_bar->setColor(role);
}

QString MetricRow::valueText() const
{
    return m_value->fullText();
}

} // namespace vantor::ui
