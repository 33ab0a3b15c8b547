// SPDX-License-Identifier: MIT
#pragma once

#include "CardFrame.h"
#include "Style.h"

#include <QString>

class QLabel;

namespace vantor::ui {

class ElidedLabel;

// What one summary tile shows.
struct SummaryTile {
    QString title;
    QString value;
    QString subtitle;
    ColorRole color = ColorRole::Blue; // tint of the icon
    QString icon;                      // bundled icon name

    bool operator==(const SummaryTile &) const = default;
};

// A summary tile: icon and caption, a large figure and a line under it, on a card.
class SummaryCard : public CardFrame
{
    Q_OBJECT
public:
    explicit SummaryCard(QWidget *parent = nullptr);

    void setTile(const SummaryTile &tile);
    const SummaryTile &tile() const { return m_tile; }

private:
    void updateIcon();

    SummaryTile m_tile;
    QLabel *m_icon;
    QLabel *m_title;
    ElidedLabel *m_value;
    QLabel *m_subtitle;
};

} // namespace vantor::ui
