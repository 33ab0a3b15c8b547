// SPDX-License-Identifier: MIT
#include "SummaryCard.h"

#include "ElidedLabel.h"
#include "Icons.h"
#include "Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vantor::ui {

using namespace Qt::StringLiterals;

namespace {
int iconSize()
{
    return QFontInfo(ui::font(TextStyle::Body)).pixelSize() + 2;
}
} // namespace

SummaryCard::SummaryCard(QWidget *parent) : CardFrame(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(17, 17, 17, 17);
    layout->setSpacing(10);

    auto *top = new QHBoxLayout;
    top->setSpacing(defaultSpacing);
    m_icon = new QLabel(this);
    m_icon->setFixedSize(iconSize(), iconSize());
    m_title = label({}, TextStyle::Body, ColorRole::SecondaryText, QFont::Normal, this);
    top->addWidget(m_icon);
    top->addWidget(m_title);
    top->addStretch(1);
    layout->addLayout(top);

    m_value = elidedLabel(TextStyle::Body, ColorRole::PrimaryText, QFont::Normal, this);
    m_value->setFont(roundedNumber(28));
    m_value->setMinimumText(u"100%"_s);
    layout->addWidget(m_value);

    m_subtitle = label({}, TextStyle::Caption, ColorRole::SecondaryText, QFont::Normal, this);
    layout->addWidget(m_subtitle);
}

void SummaryCard::setTile(const SummaryTile &tile)
{
    if (tile == m_tile) return;
    const bool iconChanged = tile.icon != m_tile.icon || tile.color != m_tile.color;
    m_tile = tile;
    m_title->setText(tile.title);
    m_value->setFullText(tile.value);
    m_subtitle->setText(tile.subtitle);
    setAccessibleName(tile.title);
    setAccessibleDescription(tile.value + u' ' + tile.subtitle);
    if (iconChanged) updateIcon();
}

void SummaryCard::updateIcon()
{
    if (m_tile.icon.isEmpty())
        followScheme(m_icon, "icon", [icon = m_icon] { icon->clear(); });
    else
        setIcon(m_icon, m_tile.icon, m_tile.color, iconSize());
}

} // namespace vantor::ui
