#pragma once

#include "model/NodeStatus.h"

#include <QColor>
#include <QFont>
#include <QString>

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

// Named colours, one shade each.
namespace color {
QColor blue();
QColor green();
QColor orange();
QColor red();
QColor gray();
QColor purple();
QColor primaryText();
QColor secondaryText();
QColor windowBackground();
QColor cardBackground(); // the window background at its secondary level
QColor divider();
QColor sidebarBackground(); // the sidebar column, a shade set off from the window
QColor separator();         // the opaque line between sidebar and detail column
} // namespace color

// How a node's health is shown everywhere: a label and a colour.
QString statusLabel(NodeStatus status);
QColor statusColor(NodeStatus status);

// A QLabel in one text role and colour.
QLabel *label(const QString &text, TextStyle style, const QColor &color = color::primaryText(),
              QFont::Weight weight = QFont::Normal, QWidget *parent = nullptr);
void setLabelColor(QLabel *label, const QColor &color);

// A thin horizontal line in the divider colour.
QFrame *horizontalDivider(QWidget *parent = nullptr);

// Fusion style, a light palette and a font that covers the Chinese texts.
void applyLook(QApplication &app);

} // namespace vantor::ui
