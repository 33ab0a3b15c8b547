#include "AlertRowDelegate.h"

#include "AlertListModel.h"
#include "Icons.h"
#include "Style.h"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace vantor::ui {

using namespace Qt::StringLiterals;

namespace {

constexpr int padding = 14;
constexpr int spacing = 12;
constexpr int lineSpacing = 3;

QTextOption wrapping()
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// Lays `text` out in lines of `width`; a null painter only measures. Returns the height used.
int wrapText(const QString &text, const QFont &font, int width, QPainter *painter = nullptr, QPointF at = {})
{
    const QFontMetrics metrics(font);
    // Most texts fit one line: measuring is then much cheaper than a full layout.
    if (!painter && !text.contains(QChar::LineSeparator) && metrics.horizontalAdvance(text) <= width)
        return metrics.height();
    QTextLayout layout(text, font);
    layout.setTextOption(wrapping());
    layout.setCacheEnabled(true);
    qreal y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        line.setPosition({0, y});
        y += line.height();
    }
    layout.endLayout();
    if (painter) layout.draw(painter, at);
    return std::max(int(std::ceil(y)), metrics.height());
}

} // namespace

struct AlertRowDelegate::Layout {
    int textLeft = 0;
    int textWidth = 0;
    int headlineHeight = 0;
    int detailHeight = 0;
    int timeWidth = 0;
    int height = 0; // of the whole row, divider included
};

AlertRowDelegate::AlertRowDelegate(QObject *parent)
    : QStyledItemDelegate(parent), m_headline(ui::font(TextStyle::Subheadline, QFont::Medium)),
      m_caption(ui::font(TextStyle::Caption)),
      // The severity icon keeps the size of the row's default (body) text.
      m_iconSize(QFontInfo(ui::font(TextStyle::Body)).pixelSize() + 2)
{
}

void AlertRowDelegate::setRowWidth(int width)
{
    if (width == m_width) return;
    m_width = width;
    forget();
}

AlertRowDelegate::Layout AlertRowDelegate::layoutRow(const QModelIndex &index, int width) const
{
    Layout l;
    l.timeWidth = QFontMetrics(m_caption).horizontalAdvance(index.data(AlertListModel::TimeRole).toString());
    l.textLeft = padding + m_iconSize + spacing;
    l.textWidth = std::max(1, width - l.textLeft - spacing - l.timeWidth - padding);
    l.headlineHeight = wrapText(index.data(AlertListModel::HeadlineRole).toString(), m_headline, l.textWidth);
    l.detailHeight = wrapText(index.data(AlertListModel::DetailRole).toString(), m_caption, l.textWidth);
    const int content = std::max(
        {l.headlineHeight + lineSpacing + l.detailHeight, m_iconSize, QFontMetrics(m_caption).height()});
    l.height = padding + content + padding + 1; // + 1: the divider line
    return l;
}

int AlertRowDelegate::rowHeight(const QModelIndex &index) const
{
    const int row = index.row();
    if (row < 0) return 0;
    if (m_heights.size() != index.model()->rowCount()) m_heights = QList<int>(index.model()->rowCount(), 0);
    int &height = m_heights[row];
    if (height == 0) height = layoutRow(index, m_width).height;
    return height;
}

QSize AlertRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    // Narrow, so the rows never widen the list: the view stretches them to its own width.
    return {1, rowHeight(index)};
}

void AlertRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    const QRect row = option.rect;
    const Layout l = layoutRow(index, row.width());
    const int contentHeight = row.height() - 1;
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // Severity icon and time, vertically centred.
    const QString iconName = index.data(AlertListModel::IconRole).toString();
    const QColor tint = index.data(AlertListModel::TintRole).value<QColor>();
    const QString key = iconName + tint.name() + QString::number(dpr);
    auto pixmap = m_icons.constFind(key);
    if (pixmap == m_icons.cend()) pixmap = m_icons.insert(key, iconPixmap(iconName, tint, m_iconSize, dpr));
    painter->drawPixmap(row.left() + padding, row.top() + (contentHeight - m_iconSize) / 2, *pixmap);

    const QRect timeRect(row.right() - padding - l.timeWidth + 1, row.top(), l.timeWidth, contentHeight);
    painter->setFont(m_caption);
    painter->setPen(color::secondaryText());
    painter->drawText(timeRect, Qt::AlignVCenter | Qt::AlignRight,
                      index.data(AlertListModel::TimeRole).toString());

    // Headline over detail, both wrapped, the block centred between icon and time.
    const int textHeight = l.headlineHeight + lineSpacing + l.detailHeight;
    const QPointF at(row.left() + l.textLeft, row.top() + (contentHeight - textHeight) / 2);
    painter->setPen(color::primaryText());
    wrapText(index.data(AlertListModel::HeadlineRole).toString(), m_headline, l.textWidth, painter, at);
    painter->setPen(color::secondaryText());
    wrapText(index.data(AlertListModel::DetailRole).toString(), m_caption, l.textWidth, painter,
             at + QPointF(0, l.headlineHeight + lineSpacing));

    if (index.data(AlertListModel::DividerRole).toBool()) {
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->fillRect(QRect(row.left(), row.bottom(), row.width(), 1), color::divider());
    }
    painter->restore();
}

} // namespace vantor::ui
