// SPDX-License-Identifier: MIT
#include "FakeNotifications.h"
#include "app/ColorSchemeWatcher.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QtTest>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;
using ui::ColorScheme;

const QString portalService = u"org.freedesktop.portal.Desktop"_s;
const QString portalPath = u"/org/freedesktop/portal/desktop"_s;

// The desktop portal's Settings interface with one setting. An old portal has Read only, and Read
// answers with the value wrapped in one variant more.
class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint colorScheme = 0;
    bool hasReadOne = true;

public Q_SLOTS:
    // Answered by hand: slots with QDBusVariant in their signature would register that type with
    // Qt, and hide a console that forgets to.
    void ReadOne(const QString &, const QString &) { answer(hasReadOne ? 1 : 0); }
    void Read(const QString &, const QString &) { answer(2); }

private:
    void answer(int wraps) // the value in this many variants; none: no such method
    {
        if (wraps == 0) return sendErrorReply(QDBusError::UnknownMethod, u"no ReadOne here"_s);
        QVariant value = QVariant::fromValue(QDBusVariant(colorScheme));
        if (wraps > 1) value = QVariant::fromValue(QDBusVariant(value));
        setDelayedReply(true);
        connection().send(message().createReply(value));
    }
};

class TestColorScheme : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    QDBusConnection portalBus = bus.connect(u"portal"_s);
    FakePortal portal;
    QThread portalThread; // the console reads the portal with a blocking call

private Q_SLOTS:
    void initTestCase()
    {
        portalBus.registerObject(portalPath, &portal, QDBusConnection::ExportAllSlots);
        portalBus.registerService(portalService);
        portal.moveToThread(&portalThread);
        portalThread.start();
    }
    void cleanupTestCase()
    {
        portalThread.quit();
        portalThread.wait();
    }

    void scheme_data()
    {
        QTest::addColumn<int>("desktop"); // color-scheme on the portal; -1: no portal, -2: no bus
        QTest::addColumn<bool>("readOne");
        QTest::addColumn<QString>("userChoice");
        QTest::addColumn<int>("changedTo");              // then SettingChanged with this value; -1: none
        QTest::addColumn<QList<ColorScheme>>("schemes"); // at the start, after the change
        const auto light = ColorScheme::Light, dark = ColorScheme::Dark;
        QTest::newRow("unknown choice: the desktop's") << 1 << true << u"blue"_s << 2 << QList{dark, light};
        QTest::newRow("Read only; no preference") << 1 << false << QString() << 0 << QList{dark, light};
        QTest::newRow("user's dark over light") << 2 << true << u"dark"_s << 2 << QList{dark, dark};
        QTest::newRow("user's light over dark") << 1 << true << u" Light "_s << 1 << QList{light, light};
        // The last two rows need no portal: the first of them takes it off the bus.
        QTest::newRow("no portal") << -1 << true << QString() << -1 << QList{light};
        QTest::newRow("no session bus") << -2 << true << QString() << -1 << QList{light};
    }
    void scheme()
    {
        QFETCH(int, desktop);
        QFETCH(bool, readOne);
        QFETCH(QString, userChoice);
        QFETCH(int, changedTo);
        QFETCH(QList<ColorScheme>, schemes);
        portal.colorScheme = uint(desktop);
        portal.hasReadOne = readOne;
        if (desktop == -1) portalBus.unregisterService(portalService);
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        if (userChoice == u"blue"_s)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"VANTOR_COLOR_SCHEME"_s));

        const QDBusConnection client = desktop == -2 ? QDBusConnection(u"none"_s) : bus.connect(u"client"_s);
        ColorSchemeWatcher watcher(client, userChoice);
        QCOMPARE(watcher.scheme(), schemes.first());
        if (changedTo < 0) return;

        QSignalSpy changes(&watcher, &ColorSchemeWatcher::schemeChanged);
        // Another setting, even of the same namespace, changes nothing.
        for (const auto &[key, value] : {std::pair{u"accent-color"_s, 1}, {u"color-scheme"_s, changedTo}})
            portalBus.send(QDBusMessage::createSignal(portalPath, u"org.freedesktop.portal.Settings"_s,
                                                      u"SettingChanged"_s)
                           << u"org.freedesktop.appearance"_s << key
                           << QVariant::fromValue(QDBusVariant(uint(value))));
        // The portal's connection answers a ping after the signals it sent before; they are then queued here.
        const QDBusMessage ping =
            QDBusMessage::createMethodCall(portalService, u"/"_s, u"org.freedesktop.DBus.Peer"_s, u"Ping"_s);
        QCOMPARE(client.call(ping).type(), QDBusMessage::ReplyMessage);
        QCoreApplication::processEvents();
        QCOMPARE(watcher.scheme(), schemes.last());
        QCOMPARE(changes.size(), schemes.first() == schemes.last() ? 0 : 1);
    }
};

QTEST_MAIN(TestColorScheme)
#include "tst_colorscheme.moc"
