// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

namespace vantor::test {

// A dbus-daemon of the test's own, on a socket in a temporary folder; stopped with the object. It
// allows everything and activates no services, so a name nobody owns stays unowned.
class PrivateBus
{
public:
    PrivateBus();
    ~PrivateBus() { m_daemon.close(); } // kills the daemon and waits for it
    QDBusConnection connect(const QString &name) const
    {
        return QDBusConnection::connectToBus(m_address, name);
    }
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// A notification server on a bus. It notes each Notify call as summary|body|urgency|new, replaces
// (the latest notification) or replaces another; flagged when it does not name the console or lacks
// the default action. It emits ActionInvoked on request.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit FakeNotifications(const QDBusConnection &bus);

    QStringList notes;
    uint latestId = 0;
    void invokeAction(uint id, const QString &actionKey);

public Q_SLOTS:
    QStringList GetCapabilities()
    {
        return {QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")};
    }
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);

private:
    QDBusConnection m_bus;
    uint m_issued = 0;
};

// Returns true once everything `client` sent before this call has been answered and the answers
// handled; false on a bus that cannot be reached.
bool settle(const QDBusConnection &client, bool serverPresent = true);

} // namespace vantor::test
