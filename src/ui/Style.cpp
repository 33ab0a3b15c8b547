// SPDX-License-Identifier: MIT
#include "Style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QToolTip>

#include <iterator>

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

namespace {

struct Shades {
    ColorRole role;
    QRgb light;
    QRgb dark;
};

// The look. Text shades reach 4.5:1 against every background they are drawn on, in both schemes;
// the hues are the platform's own and are used only where legibility of small text is not at stake.
constexpr Shades shades[] = {
    {ColorRole::Blue, 0xff007aff, 0xff0a84ff},
    {ColorRole::Green, 0xff28a745, 0xff30d158},
    {ColorRole::Orange, 0xffff9500, 0xffff9f0a},
    {ColorRole::Red, 0xffff3b30, 0xffff453a},
    {ColorRole::Gray, 0xff8e8e93, 0xff98989d},
    {ColorRole::Purple, 0xffaf52de, 0xffbf5af2},
    {ColorRole::GreenText, 0xff1b7a31, 0xff30d158},
    {ColorRole::OrangeText, 0xffad4e00, 0xffff9f0a},
    {ColorRole::RedText, 0xffd70015, 0xffff6961},
    {ColorRole::GrayText, 0xff636366, 0xffaeaeb2},
    {ColorRole::PrimaryText, 0xff1d1d1f, 0xfff5f5f7},
    {ColorRole::SecondaryText, 0xff636366, 0xffaeaeb2},
    {ColorRole::AccentText, 0xffffffff, 0xffffffff},
    {ColorRole::WindowBackground, 0xfffbfbfd, 0xff1e1e20},
    {ColorRole::CardBackground, 0xfff0f0f4, 0xff2c2c2e},
    {ColorRole::SidebarBackground, 0xfff4f4f7, 0xff252527},
    {ColorRole::EditorBackground, 0xffffffff, 0xff2c2c2e},
    {ColorRole::Accent, 0xff0066d6, 0xff0a64d8},
    {ColorRole::Selection, 0x1f007aff, 0x380a84ff},
    {ColorRole::FocusRing, 0x99007aff, 0x990a84ff},
    {ColorRole::Divider, 0x1c000000, 0x24ffffff},
    {ColorRole::Separator, 0xffdcdce1, 0xff38383a},
    {ColorRole::Track, 0x16000000, 0x26ffffff},
};
static_assert(std::size(shades) == colorRoleCount);
static_assert(
    [] {
        for (int i = 0; i < colorRoleCount; ++i)
            if (int(shades[i].role) != i) return false;
        return true;
    }(),
    "one row per role, in the order of the enum");

const StatusLook statusLooks[] = {
    {u"正常"_s, ColorRole::Green, ColorRole::GreenText},
    {u"告警"_s, ColorRole::Orange, ColorRole::OrangeText},
    {u"严重"_s, ColorRole::Red, ColorRole::RedText},
    {u"离线"_s, ColorRole::Gray, ColorRole::GrayText},
};

// Holds one re-colouring step of its parent; dies with it, and with it the connection.
class SchemeFollower final : public QObject
{
    Q_OBJECT
public:
    SchemeFollower(QObject *owner, const char *key, std::function<void()> apply)
        : QObject(owner), key(key), apply(std::move(apply))
    {
        connect(Appearance::instance(), &Appearance::schemeChanged, this, [this] { this->apply(); });
    }
    const char *key;
    std::function<void()> apply;
};

} // namespace

QColor color(ColorRole role, ColorScheme scheme)
{
    const Shades &s = shades[int(role)];
    return QColor::fromRgba(scheme == ColorScheme::Dark ? s.dark : s.light);
}

QColor color(ColorRole role)
{
    return color(role, Appearance::instance()->scheme());
}

const StatusLook &statusLook(NodeStatus status)
{
    const auto row = std::size_t(status);
    return statusLooks[row < std::size(statusLooks) ? row : std::size_t(NodeStatus::offline)];
}

void followScheme(QObject *owner, const char *key, std::function<void()> apply)
{
    apply();
    for (QObject *child : owner->children()) {
        auto *follower = qobject_cast<SchemeFollower *>(child);
        if (follower && qstrcmp(follower->key, key) == 0) {
            follower->apply = std::move(apply);
            return;
        }
    }
    new SchemeFollower(owner, key, std::move(apply));
}

QLabel *label(const QString &text, TextStyle style, ColorRole color, QFont::Weight weight, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setFont(font(style, weight));
    l->setTextFormat(Qt::PlainText); // texts from agents are shown as sent, never as markup
    setLabelColor(l, color);
    return l;
}

void setLabelColor(QLabel *label, ColorRole role)
{
    followScheme(label, "text", [label, role] {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, color(role));
        label->setPalette(p);
    });
    // Inside a button a label would otherwise draw in the button's text colour.
    label->setForegroundRole(QPalette::WindowText);
}

void setBackground(QWidget *widget, ColorRole role)
{
    followScheme(widget, "background", [widget, role] {
        QPalette p = widget->palette();
        p.setColor(QPalette::Window, color(role));
        widget->setPalette(p);
    });
    widget->setAutoFillBackground(true);
}

QFrame *horizontalDivider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(1);
    line->setFixedHeight(1);
    followScheme(line, "line", [line] {
        QPalette p = line->palette();
        p.setColor(QPalette::WindowText, color(ColorRole::Divider));
        line->setPalette(p);
    });
    return line;
}

void applyPalette(QApplication &app)
{
    const QColor window = color(ColorRole::WindowBackground);
    const QColor text = color(ColorRole::PrimaryText);
    const QColor secondary = color(ColorRole::SecondaryText);
    const bool dark = Appearance::instance()->scheme() == ColorScheme::Dark;
    // Fusion draws frames and bevels from the shades the palette derives from the button colour.
    QPalette p = dark ? QPalette(QColor(0x3a, 0x3a, 0x3c), window) : app.style()->standardPalette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::Text, text);
        p.setColor(group, QPalette::ButtonText, text);
    }
    p.setColor(QPalette::Disabled, QPalette::WindowText, secondary);
    p.setColor(QPalette::Disabled, QPalette::Text, secondary);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, secondary);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::Base, color(ColorRole::EditorBackground));
    p.setColor(QPalette::AlternateBase, color(ColorRole::CardBackground));
    p.setColor(QPalette::PlaceholderText, secondary);
    p.setColor(QPalette::Highlight, color(ColorRole::Accent));
    p.setColor(QPalette::HighlightedText, color(ColorRole::AccentText));
    p.setColor(QPalette::ToolTipBase, color(ColorRole::EditorBackground));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Link, color(ColorRole::Accent));
    // Roles not set by hand would otherwise be taken from the palette the application had before.
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto g = QPalette::ColorGroup(group);
            const auto r = QPalette::ColorRole(role);
            p.setBrush(g, r, p.brush(g, r));
        }
    }
    app.setPalette(p);
    QToolTip::setPalette(p); // tooltips keep a palette of their own
}

void applyLook(QApplication &app)
{
    app.setStyle(QStyleFactory::create(u"Fusion"_s));
    applyPalette(app);

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

#include "Style.moc"
