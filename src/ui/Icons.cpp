// SPDX-License-Identifier: MIT
#include "Icons.h"

#include <QAbstractButton>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>

// Resources compiled into a static library are registered only on request.
static void registerIcons()
{
    Q_INIT_RESOURCE(resources);
}

namespace vantor::ui {

using namespace Qt::StringLiterals;

QPixmap iconPixmap(const QString &name, const QColor &tint, int size, qreal devicePixelRatio)
{
    // The SVGs draw in "currentColor"; tinting is a text substitution before rendering.
    static QHash<QString, QByteArray> sources;
    static const bool registered = (registerIcons(), true);
    Q_UNUSED(registered);
    auto it = sources.find(name);
    if (it == sources.end()) {
        QFile file(u":/icons/"_s + name + u".svg"_s);
        it = sources.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    QByteArray svg = *it;
    svg.replace("currentColor", tint.name(QColor::HexRgb).toLatin1());

    const int pixels = qRound(size * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(svg);
    QPainter painter(&pixmap);
    painter.setOpacity(tint.alphaF());
    renderer.render(&painter);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon icon(const QString &name, const QColor &tint)
{
    // One QIcon per name and tint for the whole run: a fresh icon on every refresh would leave a new
    // entry in Qt's global pixmap cache each time, and the process would grow for as long as it runs.
    static auto &icons = *new QHash<QString, QIcon>; // never destroyed: icons outlive the application object
    const QString key = name + u'|' + tint.name(QColor::HexArgb);
    auto it = icons.find(key);
    if (it == icons.end()) {
        QIcon result;
        for (int size : {16, 24, 32, 48})
            result.addPixmap(iconPixmap(name, tint, size));
        it = icons.insert(key, result);
    }
    return *it;
}

void setIcon(QLabel *label, const QString &name, ColorRole tint, int size)
{
    followScheme(label, "icon", [label, name, tint, size] {
        label->setPixmap(iconPixmap(name, color(tint), size, label->devicePixelRatioF()));
    });
}

void setIcon(QAbstractButton *button, const QString &name, ColorRole tint)
{
    followScheme(button, "icon", [button, name, tint] { button->setIcon(icon(name, color(tint))); });
}

} // namespace vantor::ui
