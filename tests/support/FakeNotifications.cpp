// SPDX-License-Identifier: MIT
#include "FakeNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace vantor::test {

using namespace Qt::StringLiterals;

PrivateBus::PrivateBus()
{
    const QString config = m_dir.filePath(u"bus.conf"_s);
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(u"<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:path="_s.toUtf8() +
               m_dir.filePath(u"bus"_s).toUtf8() +
               "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
               "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
    file.close();
    m_daemon.start(u"dbus-daemon"_s, {u"--nofork"_s, u"--print-address"_s, u"--config-file="_s + config});
    if (!m_daemon.waitForStarted(5000)) return;
    if (!QTest::qWaitFor([this] { return m_daemon.canReadLine(); }, 10000)) return;
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000)) m_daemon.kill();
}

QDBusConnection PrivateBus::connect(const QString &connectionName) const
{
    return QDBusConnection::connectToBus(m_address, connectionName);
}

FakeNotifications::FakeNotifications(const QDBusConnection &bus) : m_bus(bus)
{
    m_bus.registerObject(u"/org/freedesktop/Notifications"_s, this, QDBusConnection::ExportAllSlots);
    m_bus.registerService(u"org.freedesktop.Notifications"_s);
}

FakeNotifications::~FakeNotifications()
{
    m_bus.unregisterService(u"org.freedesktop.Notifications"_s);
    m_bus.unregisterObject(u"/org/freedesktop/Notifications"_s);
}

QStringList FakeNotifications::GetCapabilities()
{
    return {u"actions"_s, u"body"_s, u"body-markup"_s};
}

uint FakeNotifications::Notify(const QString &appName, uint replacesId, const QString &,
                               const QString &summary, const QString &body, const QStringList &actions,
                               const QVariantMap &hints, int)
{
    const uint id = replacesId != 0 ? replacesId : ++m_lastId;
    calls.append({appName, replacesId, summary, body, actions, hints, id});
    return id;
}

void FakeNotifications::invokeAction(uint id, const QString &actionKey)
{
    QDBusMessage signal = QDBusMessage::createSignal(u"/org/freedesktop/Notifications"_s,
                                                     u"org.freedesktop.Notifications"_s, u"ActionInvoked"_s);
    signal << id << actionKey;
    m_bus.send(signal);
}

bool settle(const QDBusConnection &client, bool serverPresent)
{
    QCoreApplication::processEvents();       // posted work may still have a call to send
    if (!client.isConnected()) return false; // a call there would never finish
    // The bus keeps one sender's messages in order and a server answers them in order, so the answer
    // to this call comes after those to every earlier one, and so does its watcher's signal. Without
    // a server the bus itself answers the earlier calls, so it is asked instead.
    const QDBusMessage ping =
        serverPresent
            ? QDBusMessage::createMethodCall(u"org.freedesktop.Notifications"_s,
                                             u"/org/freedesktop/Notifications"_s,
                                             u"org.freedesktop.Notifications"_s, u"GetCapabilities"_s)
            : QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                             u"org.freedesktop.DBus.Peer"_s, u"Ping"_s);
    QDBusPendingCallWatcher watcher(client.asyncCall(ping));
    QSignalSpy answered(&watcher, &QDBusPendingCallWatcher::finished);
    return answered.wait(5000) && !watcher.isError();
}

} // namespace vantor::test
