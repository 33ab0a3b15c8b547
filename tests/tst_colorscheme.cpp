// SPDX-License-Identifier: MIT
#include "FakeNotifications.h"
#include "app/ColorSchemeWatcher.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QtTest>

#include <memory>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;
using ui::ColorScheme;

namespace {

const QString portalPath = u"/org/freedesktop/portal/desktop"_s;
const QString settingsInterface = u"org.freedesktop.portal.Settings"_s;

} // namespace

// The desktop portal's Settings interface with one setting. An old portal has Read only, and Read
// answers with the value wrapped in one variant more.
class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    FakePortal(const QDBusConnection &bus, uint colorScheme, bool hasReadOne)
        : m_bus(bus), m_colorScheme(colorScheme), m_hasReadOne(hasReadOne)
    {
        m_bus.registerObject(portalPath, this, QDBusConnection::ExportAllSlots);
        m_bus.registerService(u"org.freedesktop.portal.Desktop"_s);
    }
    ~FakePortal() override
    {
        m_bus.unregisterService(u"org.freedesktop.portal.Desktop"_s);
        m_bus.unregisterObject(portalPath);
    }

    void change(const QString &nameSpace, const QString &key, uint value)
    {
        QDBusMessage signal = QDBusMessage::createSignal(portalPath, settingsInterface, u"SettingChanged"_s);
        signal << nameSpace << key << QVariant::fromValue(QDBusVariant(value));
        m_bus.send(signal);
    }

public Q_SLOTS:
    // Answered by hand: slots with QDBusVariant in their signature would register that type with
    // Qt, and hide a console that forgets to.
    void ReadOne(const QString &nameSpace, const QString &key)
    {
        if (!m_hasReadOne)
            sendErrorReply(QDBusError::UnknownMethod, u"no ReadOne here"_s);
        else
            answer(nameSpace, key, QVariant::fromValue(QDBusVariant(m_colorScheme)));
    }
    void Read(const QString &nameSpace, const QString &key)
    {
        answer(nameSpace, key,
               QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(m_colorScheme)))));
    }

private:
    void answer(const QString &nameSpace, const QString &key, const QVariant &value)
    {
        if (nameSpace != u"org.freedesktop.appearance"_s || key != u"color-scheme"_s) {
            sendErrorReply(u"org.freedesktop.portal.Error.NotFound"_s, u"no such setting"_s);
            return;
        }
        setDelayedReply(true);
        connection().send(message().createReply(value));
    }

    QDBusConnection m_bus;
    uint m_colorScheme;
    bool m_hasReadOne;
};

class TestColorScheme : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateBus> bus;

    // Returns once `client` has handled every signal the portal sent before this call.
    static bool settlePortal(const QDBusConnection &client)
    {
        QDBusMessage ping = QDBusMessage::createMethodCall(u"org.freedesktop.portal.Desktop"_s, portalPath,
                                                           settingsInterface, u"Read"_s);
        ping << u"org.freedesktop.appearance"_s << u"color-scheme"_s;
        QDBusPendingCallWatcher watcher(client.asyncCall(ping));
        QSignalSpy answered(&watcher, &QDBusPendingCallWatcher::finished);
        if (!answered.wait(5000)) return false;
        QCoreApplication::processEvents();
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        bus = std::make_unique<PrivateBus>();
        QVERIFY2(bus->isRunning(), "dbus-daemon did not start");
    }

    void scheme_data()
    {
        QTest::addColumn<int>("desktop"); // color-scheme on the portal; -1: no portal, -2: no bus
        QTest::addColumn<bool>("readOne");
        QTest::addColumn<QString>("userChoice");
        QTest::addColumn<ColorScheme>("atStart");
        QTest::addColumn<int>("changedTo"); // then SettingChanged with this value; -1: none
        QTest::addColumn<ColorScheme>("afterChange");
        const auto light = ColorScheme::Light, dark = ColorScheme::Dark;
        QTest::newRow("dark, then light") << 1 << true << QString() << dark << 2 << light;
        QTest::newRow("no preference is light, then dark") << 0 << true << QString() << light << 1 << dark;
        QTest::newRow("a portal with Read only") << 1 << false << QString() << dark << 2 << light;
        QTest::newRow("user's dark over a light desktop") << 2 << true << u"dark"_s << dark << 2 << dark;
        QTest::newRow("user's light over a dark desktop") << 1 << true << u" Light "_s << light << 1 << light;
        QTest::newRow("unknown user choice follows the desktop")
            << 1 << true << u"blue"_s << dark << 2 << light;
        QTest::newRow("no portal") << -1 << true << QString() << light << -1 << light;
        QTest::newRow("no session bus") << -2 << true << QString() << light << -1 << light;
    }
    void scheme()
    {
        QFETCH(int, desktop);
        QFETCH(bool, readOne);
        QFETCH(QString, userChoice);
        QFETCH(ColorScheme, atStart);
        QFETCH(int, changedTo);
        QFETCH(ColorScheme, afterChange);
        // The console reads the portal with a blocking call: the portal answers from a thread of its own.
        QThread portalThread;
        std::unique_ptr<FakePortal> portal;
        if (desktop >= 0) {
            portal = std::make_unique<FakePortal>(bus->connect(u"portal"_s), desktop, readOne);
            portal->moveToThread(&portalThread);
            portalThread.start();
        }
        const auto stop = qScopeGuard([&] {
            portalThread.quit();
            portalThread.wait();
        });
        if (userChoice == u"blue"_s)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"VANTOR_COLOR_SCHEME"_s));
        else
            QTest::failOnWarning(QRegularExpression(u".*"_s));

        // Without a bus the answer is at once.
        const QDBusConnection client =
            desktop == -2
                ? QDBusConnection::connectToBus(u"unix:path=/nonexistent/vantor-bus"_s, u"nowhere"_s)
                : bus->connect(u"client"_s);
        QCOMPARE(client.isConnected(), desktop != -2);
        QElapsedTimer clock;
        clock.start();
        ColorSchemeWatcher watcher(client, userChoice);
        QCOMPARE(watcher.scheme(), atStart);
        QVERIFY(desktop != -2 || clock.elapsed() < 500);
        if (changedTo < 0) return;

        QSignalSpy changes(&watcher, &ColorSchemeWatcher::schemeChanged);
        // Another setting, even of the same namespace, changes nothing.
        portal->change(u"org.freedesktop.appearance"_s, u"accent-color"_s, 1);
        portal->change(u"org.freedesktop.appearance"_s, u"color-scheme"_s, uint(changedTo));
        QVERIFY(settlePortal(client));
        QCOMPARE(watcher.scheme(), afterChange);
        QCOMPARE(changes.size(), atStart == afterChange ? 0 : 1);
    }
};

QTEST_MAIN(TestColorScheme)
#include "tst_colorscheme.moc"
