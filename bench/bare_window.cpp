// SPDX-License-Identifier: MIT
// The reference for bench_footprint: a bare Qt Widgets window with Chinese text and nine progress bars,
// the size of the console's window, linked against nothing but Qt Widgets. Quits by itself after 11 min.

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(u"东京节点 · 新加坡节点 · 法兰克福节点"_s));
    for (int i = 0; i < 9; ++i) {
        auto *bar = new QProgressBar;
        bar->setValue(10 * i + 5);
        layout->addWidget(bar);
    }
    window.resize(1180, 760);
    window.show();
    QTimer::singleShot(660000, &app, &QCoreApplication::quit);
    return app.exec();
}
