// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include "Style.h"

class QAbstractButton;
class QLabel;

namespace vantor::ui {

// A bundled Bootstrap icon ("activity", "cpu-fill", ...) tinted with one colour.
QIcon icon(const QString &name, const QColor &tint);
QPixmap iconPixmap(const QString &name, const QColor &tint, int size, qreal devicePixelRatio = 1.0);

// Shows an icon tinted with a colour of the look, and tints it anew when the colour scheme changes.
void setIcon(QLabel *label, const QString &name, ColorRole tint, int size);
void setIcon(QAbstractButton *button, const QString &name, ColorRole tint);

} // namespace vantor::ui
