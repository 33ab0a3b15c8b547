#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vantor::ui {

// A bundled Bootstrap icon ("activity", "cpu-fill", ...) tinted with one colour.
QIcon icon(const QString &name, const QColor &tint);
QPixmap iconPixmap(const QString &name, const QColor &tint, int size, qreal devicePixelRatio = 1.0);

} // namespace vantor::ui
