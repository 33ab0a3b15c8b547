// SPDX-License-Identifier: MIT
#include "ColorSchemeWatcher.h"
#include "ContentView.h"
#include "Notifier.h"
#include "ui/Style.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>

#include <cstdio>

namespace vantor {

using namespace Qt::StringLiterals;

namespace {

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

// The console's only arguments print something and end the program: they are handled on a
// QCoreApplication, so that they work without a display.
int answerArguments(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Vantor: a desktop console that watches servers running vantor-agent.\n\n"
        "The node list is kept in $XDG_DATA_HOME/Vantor/config/nodes.json (~/.local/share when "
        "XDG_DATA_HOME is not set) and edited in the window's connection settings. Trouble on a node "
        "(critical or offline) is "
        "announced by a desktop notification; turn those off in the desktop's notification settings "
        "for \"Vantor\"."_s);
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help and exit."_s);
    const QCommandLineOption version({u"v"_s, u"version"_s}, u"Show the version and exit."_s);
    parser.addOptions({help, version});
    const bool parsed = parser.parse(app.arguments());
    if (parsed && parser.isSet(help)) {
        write(stdout, parser.helpText());
        return 0;
    }
    if (parsed && parser.isSet(version) && parser.positionalArguments().isEmpty()) {
        write(stdout, u"vantor "_s + QStringLiteral(VANTOR_VERSION) + u'\n');
        return 0;
    }
    const QString why =
        parsed ? u"vantor: the console takes no arguments"_s : u"vantor: "_s + parser.errorText();
    write(stderr, why + u"\nTry 'vantor --help' for more.\n"_s);
    return 2;
}

// The application: one window whose root view is ContentView, nothing else.
class VantorControlApp
{
public:
    int run(char *program)
    {
        // Qt sees only the program name: the console has no Qt options of its own.
        int argc = 1;
        char *argv[] = {program, nullptr};
        QApplication app(argc, argv);
        app.setApplicationName(u"Vantor"_s);
        app.setDesktopFileName(u"vantor"_s);
        // The scheme is known before anything is drawn, so the window never opens in the wrong one.
        ColorSchemeWatcher scheme(QDBusConnection::sessionBus(), qEnvironmentVariable("VANTOR_COLOR_SCHEME"));
        ui::Appearance::instance()->setScheme(scheme.scheme());
        QObject::connect(&scheme, &ColorSchemeWatcher::schemeChanged, ui::Appearance::instance(),
                         &ui::Appearance::setScheme);
        ui::applyLook(app);

        ContentView window;
        Notifier notifier(window.store(), QDBusConnection::sessionBus());
        QObject::connect(&notifier, &Notifier::activated, &window, &ContentView::reveal);
        window.show();
        return app.exec();
    }
};

} // namespace

} // namespace vantor

int main(int argc, char *argv[])
{
    if (argc > 1) return vantor::answerArguments(argc, argv);
    return vantor::VantorControlApp().run(argv[0]);
}
