// SPDX-License-Identifier: MIT
#pragma once

#include "ui/Appearance.h"

#include <QDBusConnection>
#include <QObject>

class QDBusVariant;

namespace vantor {

// Follows the desktop's light or dark preference, as the XDG desktop portal publishes it
// (org.freedesktop.appearance color-scheme: 1 dark, 2 light, 0 no preference), and reports every
// change. A scheme named by the user (VANTOR_COLOR_SCHEME=light|dark) wins over the desktop.
// Without a session bus or a portal the scheme is light, and nothing is said about it.
class ColorSchemeWatcher : public QObject
{
    Q_OBJECT
public:
    // `userChoice` is the value of VANTOR_COLOR_SCHEME; empty follows the desktop.
    ColorSchemeWatcher(const QDBusConnection &bus, const QString &userChoice, QObject *parent = nullptr);

    ui::ColorScheme scheme() const { return m_scheme; }

Q_SIGNALS:
    void schemeChanged(vantor::ui::ColorScheme scheme);

private Q_SLOTS:
    // QtDBus hands bus signals only to slots named by their signature.
    void onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    void readDesktop();

    QDBusConnection m_bus;
    ui::ColorScheme m_scheme = ui::ColorScheme::Light;
};

} // namespace vantor
