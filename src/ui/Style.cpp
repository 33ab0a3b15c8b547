#include "Style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace vantor::ui {

using namespace Qt::StringLiterals;

namespace {

qreal baseSize()
{
    const qreal size = QApplication::font().pointSizeF();
    return size > 0 ? size : 10.0;
}

// Ratios of the platform text roles to body text.
qreal scale(TextStyle style)
{
    switch (style) {
    case TextStyle::LargeTitle:
        return 2.0;
    case TextStyle::Title2:
        return 1.38;
    case TextStyle::Headline:
        return 1.0;
    case TextStyle::Subheadline:
        return 0.92;
    case TextStyle::Body:
        return 1.0;
    case TextStyle::Caption:
        return 0.85;
    }
    return 1.0;
}

} // namespace

QFont font(TextStyle style, QFont::Weight weight)
{
    QFont f = QApplication::font();
    f.setPointSizeF(baseSize() * scale(style));
    // Headlines are semibold unless a heavier weight is asked for.
    if (style == TextStyle::Headline && weight < QFont::DemiBold) weight = QFont::DemiBold;
    f.setWeight(weight);
    return f;
}

QFont monospaced(TextStyle style)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPointSizeF(baseSize() * scale(style));
    return f;
}

QFont roundedNumber(qreal pointSize)
{
    QFont f = QApplication::font();
    f.setPointSizeF(pointSize * baseSize() / 13.0);
    f.setWeight(QFont::Bold);
    return f;
}

namespace color {
QColor blue()
{
    return QColor(0x00, 0x7a, 0xff);
}
QColor green()
{
    return QColor(0x28, 0xa7, 0x45);
}
QColor orange()
{
    return QColor(0xff, 0x95, 0x00);
}
QColor red()
{
    return QColor(0xff, 0x3b, 0x30);
}
QColor gray()
{
    return QColor(0x8e, 0x8e, 0x93);
}
QColor purple()
{
    return QColor(0xaf, 0x52, 0xde);
}
QColor primaryText()
{
    return QColor(0x1d, 0x1d, 0x1f);
}
QColor secondaryText()
{
    return QColor(0x6e, 0x6e, 0x73);
}
QColor windowBackground()
{
    return QColor(0xfb, 0xfb, 0xfd);
}
QColor cardBackground()
{
    return QColor(0xf0, 0xf0, 0xf4);
}
QColor divider()
{
    return QColor(0, 0, 0, 28);
}
QColor sidebarBackground()
{
    return QColor(0xf4, 0xf4, 0xf7);
}
QColor separator()
{
    return QColor(0xdc, 0xdc, 0xe1);
}
} // namespace color

QString statusLabel(NodeStatus status)
{
    switch (status) {
    case NodeStatus::online:
        return u"正常"_s;
    case NodeStatus::warning:
        return u"告警"_s;
    case NodeStatus::critical:
        return u"严重"_s;
    case NodeStatus::offline:
        return u"离线"_s;
    }
    return {};
}

QColor statusColor(NodeStatus status)
{
    switch (status) {
    case NodeStatus::online:
        return color::green();
    case NodeStatus::warning:
        return color::orange();
    case NodeStatus::critical:
        return color::red();
    case NodeStatus::offline:
        return color::gray();
    }
    return color::gray();
}

QLabel *label(const QString &text, TextStyle style, const QColor &color, QFont::Weight weight,
              QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setFont(font(style, weight));
    l->setTextFormat(Qt::PlainText); // texts from agents are shown as sent, never as markup
    setLabelColor(l, color);
    return l;
}

QFrame *horizontalDivider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(1);
    line->setFixedHeight(1);
    QPalette p = line->palette();
    p.setColor(QPalette::WindowText, color::divider());
    line->setPalette(p);
    return line;
}

void setLabelColor(QLabel *label, const QColor &color)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    // Inside a button a label would otherwise draw in the button's text colour.
    label->setForegroundRole(QPalette::WindowText);
}

void applyLook(QApplication &app)
{
    app.setStyle(QStyleFactory::create(u"Fusion"_s));
    QPalette p = app.style()->standardPalette();
    p.setColor(QPalette::Window, color::windowBackground());
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, color::cardBackground());
    p.setColor(QPalette::WindowText, color::primaryText());
    p.setColor(QPalette::Text, color::primaryText());
    p.setColor(QPalette::ButtonText, color::primaryText());
    p.setColor(QPalette::PlaceholderText, color::secondaryText());
    p.setColor(QPalette::Highlight, color::blue());
    p.setColor(QPalette::ToolTipBase, Qt::white);
    p.setColor(QPalette::ToolTipText, color::primaryText());
    app.setPalette(p);

    // Prefer a family that has the Chinese glyphs, so labels do not fall back glyph by glyph.
    QFont f = app.font();
    const QStringList families = QFontDatabase::families();
    for (const QString &family : {u"Noto Sans CJK SC"_s, u"Noto Sans SC"_s, u"WenQuanYi Micro Hei"_s}) {
        if (families.contains(family)) {
            f.setFamilies({family});
            break;
        }
    }
    if (f.pointSizeF() < 10) f.setPointSizeF(10);
    app.setFont(f);
}

} // namespace vantor::ui
