// SPDX-License-Identifier: MIT
#pragma once

#include "Appearance.h"
#include "model/NodeStatus.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <functional>

class QApplication;
class QFrame;
class QLabel;
class QWidget;

namespace vantor::ui {

// The platform's standard gap between neighbours in a stack when no spacing is given.
constexpr int defaultSpacing = 8;

// The text roles used by every screen, mapped once to sizes relative to the application font.
enum class TextStyle { LargeTitle, Title2, Headline, Subheadline, Body, Caption };
QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);
QFont monospaced(TextStyle style);
QFont roundedNumber(qreal pointSize); // the big figures on tiles

// Every colour of the look, by what it is for. The hues fill dots, bars and icons; the *Text roles
// are the same hues in shades that stay legible as small text on every background of the look.
enum class ColorRole {
    Blue,
    Green,
    Orange,
    Red,
    Gray,
    Purple,
    GreenText,
    OrangeText,
    RedText,
    GrayText,
    PrimaryText,
    SecondaryText,
    AccentText, // on an Accent fill
    WindowBackground,
    CardBackground, // the window background at its secondary level
    SidebarBackground,
    EditorBackground,
    Accent,    // filled buttons and selected text
    Selection, // the selected sidebar row, translucent
    FocusRing,
    Divider,
    Separator, // the opaque line between sidebar and detail column
    Track,     // the empty part of a bar
};
inline constexpr int colorRoleCount = int(ColorRole::Track) + 1;

// A role's colour in the current scheme, or in a given one.
QColor color(ColorRole role);
QColor color(ColorRole role, ColorScheme scheme);

// How a node's health is shown everywhere: a label, the hue of its dot and the shade of its text.
struct StatusLook {
    QString label;
    ColorRole hue;
    ColorRole text;
};
const StatusLook &statusLook(NodeStatus status);

// Runs `apply` now and again after every change of the colour scheme, for as long as `owner`
// lives. A later call with the same owner and key replaces the earlier `apply`.
void followScheme(QObject *owner, const char *key, std::function<void()> apply);

// A QLabel in one text role and colour.
QLabel *label(const QString &text, TextStyle style, ColorRole color = ColorRole::PrimaryText,
              QFont::Weight weight = QFont::Normal, QWidget *parent = nullptr);
void setLabelColor(QLabel *label, ColorRole color);

// An opaque background in one colour, behind a widget and its children.
void setBackground(QWidget *widget, ColorRole color);

// A thin horizontal line in the divider colour.
QFrame *horizontalDivider(QWidget *parent = nullptr);

// The palette of the current scheme.
void applyPalette(QApplication &app);

// Fusion style, the palette of the current scheme and a font that covers the Chinese texts.
void applyLook(QApplication &app);

} // namespace vantor::ui
