// SPDX-License-Identifier: MIT
#include "SidebarButton.h"

#include "ui/Icons.h"
#include "ui/Style.h"

#include <QHBoxLayout>
#include <QLabel>

namespace vantor {

using namespace vantor::ui;

SidebarButton::SidebarButton(Kind kind, const QString &iconName, const QString &text, QWidget *parent)
    : SidebarEntry(false, parent), m_kind(kind), m_iconName(iconName)
{
    setText(text);
    setAccessibleName(text);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(defaultSpacing);
    m_icon = new QLabel(this);
    m_text = new QLabel(text, this);
    layout->addWidget(m_icon);
    layout->addWidget(m_text);
    layout->addStretch(1);
    selectionChanged();
}

void SidebarButton::selectionChanged()
{
    const bool strong = m_kind == Selectable && isSelected();
    const ColorRole tint = m_kind == Plain || strong ? ColorRole::PrimaryText : ColorRole::SecondaryText;
    m_text->setFont(ui::font(TextStyle::Body, strong ? QFont::DemiBold : QFont::Normal));
    setLabelColor(m_text, tint);
    ui::setIcon(m_icon, m_iconName, tint, QFontInfo(m_text->font()).pixelSize() + 1);
}

} // namespace vantor
