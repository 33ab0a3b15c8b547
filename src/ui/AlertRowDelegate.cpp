// SPDX-License-Identifier: MIT
#include "AlertRowDelegate.h"

#include "AlertListModel.h"
#include "Format.h"
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

// Lays `text` out in lines of `width` and draws it at `at`. Returns the height used.
int wrapText(const QString &text, const QFont &font, int width, QPainter *painter, QPointF at)
{
    const QFontMetrics metrics(font);
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
    layout.draw(painter, at);
    return std::max(int(std::ceil(y)), metrics.height());
}

} // namespace

// Measures texts for the row heights. Thousands of rows are measured at once, and most of their
// texts are short: adding up cached advances of single characters tells cheaply that such a text
// fits one line, and only texts near or over the width are shaped and laid out in full.
class AlertRowDelegate::Measure
{
public:
    explicit Measure(const QFont &font) : m_font(font), m_metrics(font) {}

    int height(const QString &text, int width) const
    {
        if (!text.contains(QChar::LineSeparator)) {
            const qreal estimate = estimatedWidth(text);
            // The margin covers kerning and shaping that would widen a text beyond its characters.
            if (estimate >= 0 && estimate * 1.1 + 2 <= width) return int(std::ceil(m_metrics.height()));
            if (m_metrics.horizontalAdvance(text) <= width) return int(std::ceil(m_metrics.height()));
        }
        QTextLayout layout(text, m_font);
        layout.setTextOption(wrapping());
        qreal y = 0;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(1, width));
            y += line.height();
        }
        layout.endLayout();
        return int(std::ceil(std::max(y, m_metrics.height())));
    }

private:
    // -1 when a character is not measured alone (surrogate pairs, marks that combine).
    qreal estimatedWidth(const QString &text) const
    {
        qreal sum = 0;
        for (const QChar c : text) {
            if (c.isSurrogate() || c.isMark()) return -1;
            auto it = m_advances.constFind(c.unicode());
            if (it == m_advances.cend()) it = m_advances.insert(c.unicode(), m_metrics.horizontalAdvance(c));
            sum += *it;
        }
        return sum;
    }

    QFont m_font;
    QFontMetricsF m_metrics;
    mutable QHash<char16_t, qreal> m_advances;
};

struct AlertRowDelegate::Layout {
    int textLeft = 0;
    int textWidth = 0;
    int headlineHeight = 0;
    int detailHeight = 0;
    int height = 0; // of the whole row, divider included
};

AlertRowDelegate::AlertRowDelegate(QObject *parent)
    : QStyledItemDelegate(parent), m_headline(ui::font(TextStyle::Subheadline, QFont::Medium)),
      m_caption(ui::font(TextStyle::Caption)),
      // The severity icon keeps the size of the row's default (body) text.
      m_iconSize(QFontInfo(ui::font(TextStyle::Body)).pixelSize() + 2),
      m_measureHeadline(std::make_unique<Measure>(m_headline)),
      m_measureCaption(std::make_unique<Measure>(m_caption))
{
    // One width for the time column, the widest time of day the locale writes, so that measuring a
    // row needs no time text.
    const QFontMetrics metrics(m_caption);
    const QLocale locale = QLocale::system();
    const QString format = shortTimeFormat(locale);
    for (int hour = 0; hour < 24; ++hour)
        m_timeWidth =
            std::max(m_timeWidth, metrics.horizontalAdvance(locale.toString(QTime(hour, 58), format)));
}

AlertRowDelegate::~AlertRowDelegate() = default;

void AlertRowDelegate::setRowWidth(int width)
{
    if (width == m_width) return;
    m_width = width;
    forget();
}

AlertRowDelegate::Layout AlertRowDelegate::layoutRow(const QModelIndex &index, int width) const
{
    Layout l;
    l.textLeft = padding + m_iconSize + spacing;
    l.textWidth = std::max(1, width - l.textLeft - spacing - m_timeWidth - padding);
    l.headlineHeight =
        m_measureHeadline->height(index.data(AlertListModel::HeadlineRole).toString(), l.textWidth);
    l.detailHeight = m_measureCaption->height(index.data(AlertListModel::DetailRole).toString(), l.textWidth);
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

    const QRect timeRect(row.right() - padding - m_timeWidth + 1, row.top(), m_timeWidth, contentHeight);
    painter->setFont(m_caption);
    painter->setPen(color(ColorRole::SecondaryText));
    painter->drawText(timeRect, Qt::AlignVCenter | Qt::AlignRight,
                      index.data(AlertListModel::TimeRole).toString());

    // Headline over detail, both wrapped, the block centred between icon and time.
    const int textHeight = l.headlineHeight + lineSpacing + l.detailHeight;
    const QPointF at(row.left() + l.textLeft, row.top() + (contentHeight - textHeight) / 2);
    painter->setPen(color(ColorRole::PrimaryText));
    wrapText(index.data(AlertListModel::HeadlineRole).toString(), m_headline, l.textWidth, painter, at);
    painter->setPen(color(ColorRole::SecondaryText));
    wrapText(index.data(AlertListModel::DetailRole).toString(), m_caption, l.textWidth, painter,
             at + QPointF(0, l.headlineHeight + lineSpacing));

    if (index.data(AlertListModel::DividerRole).toBool()) {
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->fillRect(QRect(row.left(), row.bottom(), row.width(), 1), color(ColorRole::Divider));
    }
    painter->restore();
}

} // namespace vantor::ui
