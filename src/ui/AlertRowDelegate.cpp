#include "AlertRowDelegate.h"

#include "AlertListModel.h"
#include "Icons.h"
#include "Style.h"

#include <QPainter>

#include <algorithm>

namespace vantor::ui {

using namespace Qt::StringLiterals;

namespace {

constexpr int padding = 14;
constexpr int spacing = 12;
constexpr int lineSpacing = 3;

QFont headlineFont()
{
    return ui::font(TextStyle::Subheadline, QFont::Medium);
}

QFont captionFont()
{
    return ui::font(TextStyle::Caption);
}

// The severity icon keeps the size of the row's default (body) text.
int iconSize()
{
    return QFontInfo(ui::font(TextStyle::Body)).pixelSize() + 2;
}

} // namespace

int AlertRowDelegate::rowHeight()
{
    const int text =
        QFontMetrics(headlineFont()).height() + lineSpacing + QFontMetrics(captionFont()).height();
    return padding + std::max(text, iconSize()) + padding + 1; // + 1: the divider line
}

QSize AlertRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return {200, rowHeight()};
}

void AlertRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    const QRect row = option.rect;
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // Severity icon, vertically centred.
    const int size = iconSize();
    const QString iconName = index.data(AlertListModel::IconRole).toString();
    const QColor tint = index.data(AlertListModel::TintRole).value<QColor>();
    const QString key = iconName + tint.name() + QString::number(dpr);
    auto pixmap = m_icons.constFind(key);
    if (pixmap == m_icons.cend()) pixmap = m_icons.insert(key, iconPixmap(iconName, tint, size, dpr));
    const int contentHeight = row.height() - 1;
    painter->drawPixmap(row.left() + padding, row.top() + (contentHeight - size) / 2, *pixmap);

    // Time at the trailing edge.
    const QFont caption = captionFont();
    const QFontMetrics captionMetrics(caption);
    const QString time = index.data(AlertListModel::TimeRole).toString();
    const int timeWidth = captionMetrics.horizontalAdvance(time);
    const QRect timeRect(row.right() - padding - timeWidth + 1, row.top(), timeWidth, contentHeight);
    painter->setFont(caption);
    painter->setPen(color::secondaryText());
    painter->drawText(timeRect, Qt::AlignVCenter | Qt::AlignRight, time);

    // Two lines of text between icon and time.
    const QFont headline = headlineFont();
    const QFontMetrics headlineMetrics(headline);
    const int textLeft = row.left() + padding + size + spacing;
    const int textWidth = std::max(0, timeRect.left() - spacing - textLeft);
    const int textHeight = headlineMetrics.height() + lineSpacing + captionMetrics.height();
    const int top = row.top() + (contentHeight - textHeight) / 2;
    painter->setFont(headline);
    painter->setPen(color::primaryText());
    painter->drawText(QRect(textLeft, top, textWidth, headlineMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      headlineMetrics.elidedText(index.data(AlertListModel::HeadlineRole).toString(),
                                                 Qt::ElideRight, textWidth));
    painter->setFont(caption);
    painter->setPen(color::secondaryText());
    painter->drawText(
        QRect(textLeft, top + headlineMetrics.height() + lineSpacing, textWidth, captionMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        captionMetrics.elidedText(index.data(AlertListModel::DetailRole).toString(), Qt::ElideRight,
                                  textWidth));

    if (index.data(AlertListModel::DividerRole).toBool()) {
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->fillRect(QRect(row.left(), row.bottom(), row.width(), 1), color::divider());
    }
    painter->restore();
}

} // namespace vantor::ui
