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
    QFile file(m_dir.filePath(u"bus.conf"_s));
    file.open(QIODevice::WriteOnly);
    file.write("<busconfig><type>session</type><listen>unix:path=" + m_dir.filePath(u"bus"_s).toUtf8() +
               "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
               "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
    file.close();
    m_daemon.start(u"dbus-daemon"_s,
                   {u"--nofork"_s, u"--print-address"_s, u"--config-file="_s + file.fileName()});
    if (QTest::qWaitFor([this] { return m_daemon.canReadLine(); }, 10000))
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

FakeNotifications::FakeNotifications(const QDBusConnection &bus) : m_bus(bus)
{
    m_bus.registerObject(u"/org/freedesktop/Notifications"_s, this, QDBusConnection::ExportAllSlots);
    m_bus.registerService(u"org.freedesktop.Notifications"_s);
}

uint FakeNotifications::Notify(const QString &appName, uint replacesId, const QString &,
                               const QString &summary, const QString &body, const QStringList &actions,
                               const QVariantMap &hints, int)
{
    const QString replaced = replacesId == 0          ? u"new"_s
                             : replacesId == latestId ? u"replaces"_s
                                                      : u"replaces another"_s;
    const bool ours = appName == u"Vantor"_s && hints.value(u"desktop-entry"_s) == u"vantor"_s &&
                      actions.contains(u"default"_s);
    notes.append(summary + u'|' + body + u'|' + QString::number(hints.value(u"urgency"_s).toInt()) + u'|' +
                 replaced + (ours ? u""_s : u"|not the console's"_s));
    return latestId = replacesId != 0 ? replacesId : ++m_issued;
}

void FakeNotifications::invokeAction(uint id, const QString &actionKey)
{
    m_bus.send(QDBusMessage::createSignal(u"/org/freedesktop/Notifications"_s,
                                          u"org.freedesktop.Notifications"_s, u"ActionInvoked"_s)
               << id << actionKey);
}

bool settle(const QDBusConnection &client, bool serverPresent)
{
    QCoreApplication::processEvents();       // posted work may still have a call to send
    if (!client.isConnected()) return false; // a call there would never finish
    // The bus keeps one sender's messages in order and a server answers them in order, so the answer
    // to this call comes after those to every earlier one, and so does its watcher's signal. Without
    // a server the bus itself answers the earlier calls, so it is asked instead.
    const QString peer = serverPresent ? u"org.freedesktop.Notifications"_s : u"org.freedesktop.DBus"_s;
    const QDBusMessage ping =
        QDBusMessage::createMethodCall(peer, u"/"_s + QString(peer).replace(u'.', u'/'), peer,
                                       serverPresent ? u"GetCapabilities"_s : u"GetId"_s);
    QDBusPendingCallWatcher watcher(client.asyncCall(ping));
    QSignalSpy answered(&watcher, &QDBusPendingCallWatcher::finished);
    return answered.wait(5000) && !watcher.isError();
}

} // namespace vantor::test
