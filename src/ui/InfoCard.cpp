// SPDX-License-Identifier: MIT
#include "InfoCard.h"

#include "ElidedLabel.h"
#include "Style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vantor::ui {

InfoCard::InfoCard(const QString &title, const QString &value, const QString &subtitle, QWidget *parent)
    : CardFrame(parent)
{
    m_title = label(title, TextStyle::Caption, ColorRole::SecondaryText);
    // Figures can be hundreds of digits long (a load of 1e300): they end in "…" rather than widen the page.
    m_value = elidedLabel(TextStyle::Title2, ColorRole::PrimaryText, QFont::Bold);
    m_value->setFullText(value);
    m_subtitle = label(subtitle, TextStyle::Caption, ColorRole::SecondaryText);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(7);
    layout->addWidget(m_title);
    layout->addWidget(m_value);
    layout->addWidget(m_subtitle);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void InfoCard::setValue(const QString &value)
{
    m_value->setFullText(value);
}

QString InfoCard::title() const
{
    return m_title->text();
}

QString InfoCard::value() const
{
    return m_value->fullText();
}

QString InfoCard::subtitle() const
{
    return m_subtitle->text();
}

} // namespace vantor::ui
