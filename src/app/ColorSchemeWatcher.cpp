// SPDX-License-Identifier: MIT
#include "ColorSchemeWatcher.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace vantor {

using namespace Qt::StringLiterals;
using ui::ColorScheme;

namespace {

const QString portalService = u"org.freedesktop.portal.Desktop"_s;
const QString portalPath = u"/org/freedesktop/portal/desktop"_s;
const QString settingsInterface = u"org.freedesktop.portal.Settings"_s;
const QString appearance = u"org.freedesktop.appearance"_s;
const QString colorSchemeKey = u"color-scheme"_s;

// The window is not shown until the scheme is known; a portal that is slow to start costs at most this.
constexpr int readTimeoutMs = 1000;

// Read answers with the value wrapped in one variant more than ReadOne and SettingChanged do.
QVariant unwrap(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

ColorScheme fromPortal(const QVariant &value)
{
    bool ok = false;
    const uint preference = unwrap(value).toUInt(&ok);
    return ok && preference == 1 ? ColorScheme::Dark : ColorScheme::Light;
}

} // namespace

ColorSchemeWatcher::ColorSchemeWatcher(const QDBusConnection &bus, const QString &userChoice, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    const QString choice = userChoice.trimmed().toLower();
    if (choice == u"dark"_s || choice == u"light"_s) {
        m_scheme = choice == u"dark"_s ? ColorScheme::Dark : ColorScheme::Light;
        return;
    }
    if (!choice.isEmpty())
        qWarning("VANTOR_COLOR_SCHEME is \"%s\"; it takes light or dark. Following the desktop.",
                 qUtf8Printable(userChoice));
    if (!m_bus.isConnected()) return;
    // QtDBus finds the slot's parameter types by name, which works only for registered types: without
    // this the connection silently fails in a process that has not used QDBusVariant yet.
    qRegisterMetaType<QDBusVariant>();
    // Any sender: the portal may start, or be replaced, after the console.
    m_bus.connect(QString(), portalPath, settingsInterface, u"SettingChanged"_s, this,
                  SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    readDesktop();
}

void ColorSchemeWatcher::readDesktop()
{
    // ReadOne is the portal's current method; portals before version 2 have only Read.
    for (const QString &method : {u"ReadOne"_s, u"Read"_s}) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, method);
        call << appearance << colorSchemeKey;
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, readTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            m_scheme = fromPortal(reply.arguments().constFirst());
            return;
        }
        if (reply.errorName() != u"org.freedesktop.DBus.Error.UnknownMethod"_s) return;
    }
}

void ColorSchemeWatcher::onSettingChanged(const QString &nameSpace, const QString &key,
                                          const QDBusVariant &value)
{
    if (nameSpace != appearance || key != colorSchemeKey) return;
    const ColorScheme scheme = fromPortal(value.variant());
    if (scheme == m_scheme) return;
    m_scheme = scheme;
    Q_EMIT schemeChanged(scheme);
}

} // namespace vantor
