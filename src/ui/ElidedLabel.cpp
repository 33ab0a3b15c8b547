// SPDX-License-Identifier: MIT
#include "ElidedLabel.h"

#include "Format.h"

#include <QEvent>

namespace vantor::ui {

using namespace Qt::StringLiterals;

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText); // texts from agents are shown as sent, never as markup
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setFullText(const QString &text)
{
    // Newlines would make a second line; the label shows one.
    QString full = boundedText(text);
    full.replace(u'\n', u' ');
    if (full == m_full) return;
    m_full = full;
    updateGeometry();
    elide();
}

void ElidedLabel::setMinimumText(const QString &text)
{
    m_minimum = text;
    updateGeometry();
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    const QMargins m = contentsMargins();
    return {metrics.horizontalAdvance(m_full) + m.left() + m.right() + 1,
            metrics.height() + m.top() + m.bottom()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    const QMargins m = contentsMargins();
    const QString least = m_minimum.isEmpty() ? u"…"_s : m_minimum;
    const int width = std::min(metrics.horizontalAdvance(least), metrics.horizontalAdvance(m_full));
    return {width + m.left() + m.right() + 1, metrics.height() + m.top() + m.bottom()};
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        elide();
    }
}

void ElidedLabel::elide()
{
    const QString shown = fontMetrics().elidedText(m_full, Qt::ElideRight, contentsRect().width());
    if (shown != text()) QLabel::setText(shown);
    const QString tip = shown == m_full ? QString() : m_full;
    if (tip != toolTip()) setToolTip(tip);
}

ElidedLabel *elidedLabel(TextStyle style, ColorRole color, QFont::Weight weight, QWidget *parent)
{
    auto *l = new ElidedLabel(parent);
    l->setFont(font(style, weight));
    setLabelColor(l, color);
    return l;
}

} // namespace vantor::ui
