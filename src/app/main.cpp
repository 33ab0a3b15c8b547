// SPDX-License-Identifier: MIT
#include "ColorSchemeWatcher.h"
#include "ContentView.h"
#include "Notifier.h"
#include "SessionBus.h"
#include "ui/Style.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>

#include <cstdio>
#include <optional>

namespace vantor {

using namespace Qt::StringLiterals;

namespace {

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

// Qt's own options, which QApplication takes out of the arguments itself: with a value, then without.
const QStringList qtOptionsWithValue{
    u"platform"_s,    u"platformpluginpath"_s, u"platformtheme"_s, u"plugin"_s,     u"qwindowgeometry"_s,
    u"qwindowicon"_s, u"qwindowtitle"_s,       u"style"_s,         u"stylesheet"_s, u"session"_s,
    u"display"_s,     u"geometry"_s,           u"title"_s,         u"name"_s,       u"visual"_s};
const QStringList qtFlags{u"reverse"_s, u"widgetcount"_s, u"nograb"_s, u"dograb"_s, u"sync"_s};

// The console's own arguments print something and end the program; Qt's are left for QApplication.
// Returns the exit code, or nothing when the window is to open. Runs on a QCoreApplication, so that
// help and version work without a display.
std::optional<int> answerArguments(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    // Qt's options are written with one dash and whole words ("-platform offscreen").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        u"Vantor: a desktop console that watches servers running vantor-agent.\n\n"
        "The node list is kept in $XDG_DATA_HOME/Vantor/config/nodes.json (~/.local/share when "
        "XDG_DATA_HOME is not set) and edited in the window's connection settings. Trouble on a node "
        "(critical or offline) is "
        "announced by a desktop notification; turn those off in the desktop's notification settings "
        "for \"Vantor\". Qt's own options, such as -platform NAME or -style NAME, are accepted."_s);
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help and exit."_s);
    const QCommandLineOption version({u"v"_s, u"version"_s}, u"Show the version and exit."_s);
    parser.addOptions({help, version});
    for (const QString &name : qtOptionsWithValue) {
        QCommandLineOption option(name, QString(), u"VALUE"_s);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const QString &name : qtFlags) {
        QCommandLineOption option(name);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    const bool parsed = parser.parse(app.arguments());
    if (parsed && parser.isSet(help)) {
        write(stdout, parser.helpText());
        return 0;
    }
    if (parsed && parser.isSet(version) && parser.positionalArguments().isEmpty()) {
        write(stdout, u"vantor "_s + QStringLiteral(VANTOR_VERSION) + u'\n');
        return 0;
    }
    if (parsed && parser.positionalArguments().isEmpty()) return std::nullopt; // Qt's options only
    const QString why =
        parsed ? u"vantor: the console takes no arguments"_s : u"vantor: "_s + parser.errorText();
    write(stderr, why + u"\nTry 'vantor --help' for more.\n"_s);
    return 2;
}

// The application: one window whose root view is ContentView, nothing else.
class VantorControlApp
{
public:
    int run(int argc, char *argv[])
    {
        QApplication app(argc, argv); // takes Qt's own options out
        app.setApplicationName(u"Vantor"_s);
        app.setDesktopFileName(u"vantor"_s);
        // The scheme is known before anything is drawn, so the window never opens in the wrong one.
        const QDBusConnection bus = announcedSessionBus();
        ColorSchemeWatcher scheme(bus, qEnvironmentVariable("VANTOR_COLOR_SCHEME"));
        ui::Appearance::instance()->setScheme(scheme.scheme());
        QObject::connect(&scheme, &ColorSchemeWatcher::schemeChanged, ui::Appearance::instance(),
                         &ui::Appearance::setScheme);
        ui::applyLook(app);

        ContentView window;
        Notifier notifier(window.store(), bus);
        QObject::connect(&notifier, &Notifier::activated, &window, &ContentView::reveal);
        window.show();
        return app.exec();
    }
};

} // namespace

} // namespace vantor

int main(int argc, char *argv[])
{
    if (argc > 1)
        if (const auto exitCode = vantor::answerArguments(argc, argv)) return *exitCode;
    return vantor::VantorControlApp().run(argc, argv);
}
