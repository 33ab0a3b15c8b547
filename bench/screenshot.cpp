// SPDX-License-Identifier: MIT
// Renders the console window in demo mode and writes PNG files: overview.png, node-detail.png,
// settings.png, long-names.png and long-names-detail.png (nine nodes with long names at the
// smallest window size), and overview-dark.png and node-detail-dark.png (the dark scheme) in the
// folder given as the only argument. Meant for the offscreen
// platform, with the node files of a temporary data folder (scripts/screenshot prepares both).

#include "app/ContentView.h"
#include "store/MonitorStore.h"
#include "ui/SettingsView.h"
#include "ui/Style.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPainter>
#include <QTextStream>
#include <QUrl>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

void settle(int ms = 300)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(const QPixmap &pixmap, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    const bool ok = pixmap.save(path);
    QTextStream(stderr) << (ok ? "wrote " : "could not write ") << path << '\n';
    return ok;
}

bool isLoopback(const QString &address)
{
    const QString host = QUrl(address).host();
    return host == u"127.0.0.1"_s || host == u"::1"_s;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: vantor-screenshot <output folder>\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    ui::applyLook(app);

    ContentView window;
    MonitorStore *store = window.store();
    QList<ServerNode> nodes;
    for (const NodeRuntime &runtime : store->nodes()) {
        if (!isLoopback(runtime.node.address)) {
            QTextStream(stderr) << "refusing to run: " << runtime.node.address
                                << " is not a loopback address\n";
            return 1;
        }
        nodes.append(runtime.node);
    }
    store->apply(nodes, true);

    window.show();
    settle();
    bool ok = save(window.grab(), out, u"overview.png"_s);

    window.select(nodes.value(2).id); // the third demo node always carries an alert
    settle();
    ok = save(window.grab(), out, u"node-detail.png"_s) && ok;

    window.select(std::nullopt);
    window.showSettings();
    settle();
    auto *sheet = window.findChild<ui::SettingsView *>();
    QPixmap composed = window.grab();
    if (sheet && sheet->isVisible()) {
        // A sheet hangs from the top of the window, over a dimmed window.
        QPainter painter(&composed);
        painter.fillRect(composed.rect(), QColor(0, 0, 0, 60));
        const QPixmap sheetImage = sheet->grab();
        const QSizeF logical = sheetImage.deviceIndependentSize();
        const QRectF place(QPointF((window.width() - logical.width()) / 2, 0), logical);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        for (int i = 1; i <= 12; ++i) { // a soft shadow under the sheet
            painter.setBrush(QColor(0, 0, 0, 5));
            painter.drawRoundedRect(place.adjusted(-i, -i + 4, i, i + 4), i, i);
        }
        painter.drawPixmap(place.topLeft(), sheetImage);
        painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(place.adjusted(0.5, -1, -0.5, -0.5));
    }
    ok = save(composed, out, u"settings.png"_s) && ok;
    if (sheet) sheet->reject();

    // Real-world names at the smallest window size: nine nodes, long host names and Chinese names.
    const QStringList names = {u"web-frontend-production-cluster-node-01.internal.example"_s,
                               u"北京第一数据中心生产环境前端集群负载均衡节点"_s,
                               u"db-replica-eu-central-1c.storage.internal.example"_s};
    QList<ServerNode> many;
    for (int i = 0; i < 9; ++i)
        many.append({u"node-"_s + QString::number(i),
                     names.at(i % 3) + QString::number(i / 3 + 1),
                     nodes.value(0).address,
                     {}});
    store->apply(many, true);
    window.select(std::nullopt);
    window.resize(window.minimumSize());
    settle();
    ok = save(window.grab(), out, u"long-names.png"_s) && ok;
    window.select(many.at(1).id);
    settle();
    ok = save(window.grab(), out, u"long-names-detail.png"_s) && ok;

    // The same window switched live to the dark scheme, as when the desktop changes its preference.
    store->apply(nodes, true);
    window.resize(1180, 760);
    window.select(std::nullopt);
    ui::Appearance::instance()->setScheme(ui::ColorScheme::Dark);
    settle();
    ok = save(window.grab(), out, u"overview-dark.png"_s) && ok;
    window.select(nodes.value(2).id);
    settle();
    ok = save(window.grab(), out, u"node-detail-dark.png"_s) && ok;
    return ok ? 0 : 1;
}
