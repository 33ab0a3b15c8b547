#include "ContentView.h"
#include "ui/Style.h"

#include <QApplication>

namespace vantor {

// The application: one window whose root view is ContentView, nothing else.
class VantorControlApp
{
public:
    int run(char *program)
    {
        // The console takes no command-line arguments; Qt sees only the program name.
        int argc = 1;
        char *argv[] = {program, nullptr};
        QApplication app(argc, argv);
        app.setApplicationName(QStringLiteral("Vantor"));
        ui::applyLook(app);

        ContentView window;
        window.show();
        return app.exec();
    }
};

} // namespace vantor

int main(int, char *argv[])
{
    return vantor::VantorControlApp().run(argv[0]);
}
