// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

namespace vantor::test {

// A dbus-daemon of the test's own, on a socket in a temporary folder. It allows everything and
// activates no services, so a name nobody owns stays unowned.
class PrivateBus
{
public:
    PrivateBus();
    ~PrivateBus();

    bool isRunning() const { return !m_address.isEmpty(); }
    QDBusConnection connect(const QString &connectionName) const;

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// A notification server on a bus: it records every Notify call and emits ActionInvoked on request.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesId = 0;
        QString summary, body;
        QStringList actions;
        QVariantMap hints;
        uint id = 0; // what the server answered
    };

    explicit FakeNotifications(const QDBusConnection &bus);
    ~FakeNotifications() override;

    QList<Call> calls;
    void invokeAction(uint id, const QString &actionKey);

public Q_SLOTS:
    QStringList GetCapabilities();
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);

private:
    QDBusConnection m_bus;
    uint m_lastId = 0;
};

// Returns true once everything `client` sent before this call has been answered and the answers
// handled; false on a bus that cannot be reached.
bool settle(const QDBusConnection &client, bool serverPresent = true);

} // namespace vantor::test
