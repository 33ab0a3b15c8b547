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
#include <optional>
#include <vector>

namespace vantor::ui {

using namespace Qt::StringLiterals;

namespace {

constexpr int padding = 14;
constexpr int spacing = 12;
constexpr int lineSpacing = 3;

// Lays `layout` out in lines of `width`, one under the other, and returns their total height.
qreal layOut(QTextLayout &layout, int width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal y = 0;
    layout.beginLayout();
    for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
        l.setLineWidth(std::max(1, width));
        l.setPosition({0, y});
        y += l.height();
    }
    layout.endLayout();
    return y;
}

} // namespace

// Measures and breaks texts into lines for the row heights and the painting. Thousands of rows are
// measured at once, and a reading may carry hundreds of texts thousands of characters long: shaping
// all of them with QTextLayout froze the window for a second. Texts in scripts that need no shaping
// (Latin, Greek, Cyrillic, Chinese, Japanese, Korean and common punctuation) are therefore broken at
// the Unicode line-break opportunities by adding up cached advances of single characters, and painted
// line by line at exactly those breaks, so the height measured is the height painted. Other texts
// are laid out in full by QTextLayout.
class AlertRowDelegate::Measure
{
public:
    explicit Measure(const QFont &font) : m_font(font), m_metrics(font), m_advances(0x10000, -1.0f)
    {
        m_narrow = lineOf(u"x"_s);
        m_wide = lineOf(u"x中"_s); // a fallback font for the ideographs may be taller
    }

    struct Line {
        qreal height = 0;
        qreal ascent = 0;
    };

    // Where each line starts, or nothing when the text needs QTextLayout. A line breaks after a blank
    // or a hyphen and around ideographs (not before closing punctuation nor after opening), and
    // anywhere in a word longer than the line; blanks at the end of a line may hang over its edge.
    std::optional<QList<qsizetype>> breaks(const QString &text, int width, Line *line) const
    {
        // A little room for kerning and rounding, which adding up advances does not see.
        const qreal limit = std::max(1.0, width * 0.97 - 1);
        QList<qsizetype> starts{0};
        qsizetype lineStart = 0, lastBreak = -1;
        qreal used = 0, usedAtBreak = 0;
        bool wide = false, breakAfterPrevious = false;
        const qsizetype size = text.size();
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t u = text.at(i).unicode();
            if (!isPlain(u)) return std::nullopt;
            if (u == 0x2028) {
                if (i + 1 < size) starts.append(i + 1);
                lineStart = i + 1;
                used = 0;
                lastBreak = -1;
                breakAfterPrevious = false;
                continue;
            }
            const bool blank = u == u' ' || u == 0x3000;
            const bool ideograph = u >= 0x2E80;
            wide = wide || ideograph;
            if (i > lineStart && !blank && !isClosing(u) && (breakAfterPrevious || ideograph)) {
                lastBreak = i;
                usedAtBreak = used;
            }
            const qreal a = advance(u);
            while (!blank && i > lineStart && used + a > limit) {
                if (lastBreak > lineStart) {
                    lineStart = lastBreak;
                    used -= usedAtBreak;
                } else {
                    lineStart = i;
                    used = 0;
                }
                starts.append(lineStart);
                lastBreak = -1;
            }
            used += a;
            breakAfterPrevious = blank || u == u'-' || (ideograph && !isOpening(u));
        }
        if (line) *line = wide ? m_wide : m_narrow;
        return starts;
    }

    int height(const QString &text, int width) const
    {
        Line line;
        if (const auto starts = breaks(text, width, &line))
            return int(std::ceil(std::max(qreal(starts->size()) * line.height, m_metrics.height())));
        QTextLayout layout(text, m_font);
        return int(std::ceil(std::max(layOut(layout, width), m_metrics.height())));
    }

    // Draws `text` in lines of `width` from `at`, the font and pen already set.
    void draw(QPainter *painter, const QString &text, int width, QPointF at) const
    {
        Line line;
        const auto starts = breaks(text, width, &line);
        if (!starts) {
            QTextLayout layout(text, m_font);
            layOut(layout, width);
            layout.draw(painter, at);
            return;
        }
        const QRectF clip = painter->clipBoundingRect();
        for (qsizetype i = 0; i < starts->size(); ++i) {
            const qreal top = at.y() + qreal(i) * line.height;
            if (!clip.isEmpty() && (top > clip.bottom() || top + line.height < clip.top())) continue;
            const qsizetype end = i + 1 < starts->size() ? starts->at(i + 1) : text.size();
            QString piece = text.mid(starts->at(i), end - starts->at(i));
            piece.remove(QChar::LineSeparator);
            painter->drawText(QPointF(at.x(), top + line.ascent), piece);
        }
    }

private:
    static bool isPlain(char16_t u)
    {
        return (u >= 0x20 && u < 0x7F) || (u >= 0xA0 && u < 0x0300) || (u >= 0x0370 && u < 0x0483) ||
               (u >= 0x2010 && u <= 0x2028) || (u >= 0x2030 && u <= 0x205E) || (u >= 0x2E80 && u <= 0x9FFF) ||
               (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF01 && u <= 0xFFEF);
    }

    static bool isClosing(char16_t u)
    {
        return u == 0x3001 || u == 0x3002 || u == 0xFF0C || u == 0xFF0E || u == 0xFF01 || u == 0xFF1F ||
               u == 0xFF1A || u == 0xFF1B || u == 0xFF09 || u == 0x300D || u == 0x300F || u == 0x3011 ||
               u == u',' || u == u'.' || u == u')' || u == u'!' || u == u'?' || u == u':' || u == u';';
    }

    static bool isOpening(char16_t u)
    {
        return u == 0xFF08 || u == 0x300C || u == 0x300E || u == 0x3010 || u == u'(';
    }

    qreal advance(char16_t u) const
    {
        float &known = m_advances[u];
        if (known < 0) known = float(m_metrics.horizontalAdvance(QChar(u)));
        return known;
    }

    Line lineOf(const QString &sample) const
    {
        QTextLayout layout(sample, m_font);
        layout.beginLayout();
        const QTextLine l = layout.createLine();
        layout.endLayout();
        return {l.height(), l.ascent()};
    }

    QFont m_font;
    QFontMetricsF m_metrics;
    mutable std::vector<float> m_advances; // by UTF-16 unit; below zero while unknown
    Line m_narrow, m_wide;
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
    painter->setFont(m_headline);
    m_measureHeadline->draw(painter, index.data(AlertListModel::HeadlineRole).toString(), l.textWidth, at);
    painter->setPen(color(ColorRole::SecondaryText));
    painter->setFont(m_caption);
    m_measureCaption->draw(painter, index.data(AlertListModel::DetailRole).toString(), l.textWidth,
                           at + QPointF(0, l.headlineHeight + lineSpacing));

    if (index.data(AlertListModel::DividerRole).toBool()) {
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->fillRect(QRect(row.left(), row.bottom(), row.width(), 1), color(ColorRole::Divider));
    }
    painter->restore();
}

} // namespace vantor::ui
