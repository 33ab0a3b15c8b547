// SPDX-License-Identifier: MIT
// Times the overview page: building and showing it with 3 nodes of 10,000 alerts each, updating
// it in place with a changed reading, and one demo refresh of the whole window with 3 nodes.
// Runs on the offscreen platform unless another one is chosen; touches only a temporary folder.

#include "app/ContentView.h"
#include "store/MonitorStore.h"
#include "ui/NodeDetailView.h"
#include "ui/OverviewView.h"
#include "ui/Style.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <ctime>
#include <functional>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

QList<NodeRuntime> manyAlerts(int perNode, int shiftSeconds)
{
    const QDateTime base = QDateTime::currentDateTimeUtc();
    QList<NodeRuntime> nodes;
    for (int n = 0; n < 3; ++n) {
        NodeRuntime runtime;
        runtime.node = {u"node-"_s + QString::number(n),
                        u"节点 "_s + QString::number(n + 1),
                        u"http://127.0.0.1:9100/metrics"_s,
                        {}};
        runtime.status = NodeStatus::critical;
        runtime.metrics.cpuUsage = 40 + n;
        for (int i = 0; i < perNode; ++i) {
            runtime.metrics.alerts.append(
                makeAlert(i % 3 ? u"warning"_s : u"critical"_s, u"告警 "_s + QString::number(i),
                          u"详细说明 "_s + QString::number(i), base.addSecs(-(i * 7 + n + shiftSeconds))));
        }
        nodes.append(runtime);
    }
    return nodes;
}

ui::FleetFigures figuresOf(const QList<NodeRuntime> &nodes)
{
    ui::FleetFigures f;
    f.nodeCount = nodes.size();
    for (const NodeRuntime &r : nodes) {
        f.totalAlerts += r.metrics.alerts.size();
        f.warningCount += r.status == NodeStatus::warning || r.status == NodeStatus::critical;
        f.averageCPU += r.metrics.cpuUsage / double(nodes.size());
    }
    return f;
}

double median(QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples.at(samples.size() / 2);
}

// `key` names the figure for scripts/bench, which reads the lines that start with "BENCH ".
void report(const char *what, const QList<double> &ms, const char *key = nullptr)
{
    QTextStream(stdout) << what << ": median " << QString::number(median(ms), 'f', 2) << " ms, min "
                        << QString::number(*std::min_element(ms.begin(), ms.end()), 'f', 2) << " ms, max "
                        << QString::number(*std::max_element(ms.begin(), ms.end()), 'f', 2) << " ms ("
                        << ms.size() << " runs)\n";
    if (key) QTextStream(stdout) << "BENCH " << key << ' ' << QString::number(median(ms), 'f', 2) << " ms\n";
}

// Counts paint events, so a figure is only reported for work that reached the screen.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

double elapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// One node with `count` alerts whose title and detail are each `length` characters of wrapping text
// (words of Latin letters, or Chinese without spaces), the other two nodes without alerts.
QList<NodeRuntime> longTexts(int count, int length, bool chinese, int variant)
{
    QList<NodeRuntime> nodes = manyAlerts(0, 0);
    const QDateTime base = QDateTime::currentDateTimeUtc();
    const QString word = chinese ? u"磁盘空间不足请检查"_s : u"disk pressure "_s;
    for (int i = 0; i < count; ++i) {
        QString text = QString::number(i + variant) + u' ';
        while (text.size() < length)
            text += word;
        text.truncate(length);
        nodes[0].metrics.alerts.append(makeAlert(u"critical"_s, text, text, base.addSecs(-i)));
    }
    return nodes;
}

// The longest the UI thread was busy in one step of showing a long reading: a refresh of the
// overview, the first opening of the node's page, switching pages and scrolling each page.
void longestStalls(const char *name, const QList<NodeRuntime> &nodes, const QList<NodeRuntime> &changed)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<double> refresh, update, open, toggle, scroll, cpu;
    for (int run = 0; run < 5; ++run) {
        QStackedWidget stack;
        auto *overview = new ui::OverviewView(nullptr);
        auto *detail = new ui::NodeDetailView;
        stack.addWidget(overview);
        stack.addWidget(detail);
        stack.resize(940, 718);
        overview->showContent(manyAlerts(0, 0), std::nullopt, figuresOf(manyAlerts(0, 0)));
        stack.show();
        QCoreApplication::processEvents();

        // Wall time, as the user waits; on a busy machine the UI thread's own CPU time is printed too.
        const auto step = [&](QList<double> &into, const std::function<void()> &work) {
            QElapsedTimer timer;
            timer.start();
            const double cpuBefore = threadCpuMs();
            work();
            QCoreApplication::processEvents();
            stack.repaint();
            into.append(elapsedMs(timer));
            cpu.append(threadCpuMs() - cpuBefore);
        };
        step(refresh, [&] { overview->showContent(nodes, now, figuresOf(nodes)); });
        step(update, [&] { overview->showContent(changed, now, figuresOf(changed)); });
        step(open, [&] {
            detail->setRuntime(changed[0]);
            stack.setCurrentWidget(detail);
        });
        double worst = 0;
        for (QScrollArea *area :
             std::initializer_list<QScrollArea *>{detail->findChild<QScrollArea *>(), overview}) {
            stack.setCurrentWidget(area == overview ? static_cast<QWidget *>(overview) : detail);
            QCoreApplication::processEvents();
            QScrollBar *bar = area->verticalScrollBar();
            for (int i = 0; i < 20 && bar->value() < bar->maximum(); ++i) {
                QList<double> one;
                step(one, [&] { bar->setValue(bar->value() + bar->maximum() / 20 + 1); });
                worst = std::max(worst, one.constFirst());
            }
        }
        scroll.append(worst);
        double longest = 0;
        for (int i = 0; i < 4; ++i) {
            QList<double> one;
            step(one, [&] { stack.setCurrentIndex(1 - stack.currentIndex()); });
            longest = std::max(longest, one.constFirst());
        }
        toggle.append(longest);
    }
    const auto both = [&](const char *what, const QList<double> &ms, const char *suffix) {
        const QByteArray label = QByteArray(what) + ", " + name;
        const QByteArray key = QByteArray("ui_stall_") + name + suffix;
        report(label.constData(), ms, key.constData());
    };
    both("overview refresh", refresh, "_refresh");
    both("overview update", update, "_update");
    both("node page first open", open, "_open");
    both("switching pages (longest of 4)", toggle, "_switch");
    both("scrolling (longest step)", scroll, "_scroll");
    QTextStream(stdout) << "longest step in UI-thread CPU time, " << name << ": "
                        << QString::number(*std::max_element(cpu.begin(), cpu.end()), 'f', 2) << " ms\n";
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::applyLook(app);
    PaintCounter counter;
    app.installEventFilter(&counter);

    // A long reading within the reply cap: 648 alerts whose title and detail are 2,000 characters each.
    longestStalls("648_long_texts", longTexts(648, 2000, false, 0), longTexts(648, 2000, false, 1));
    longestStalls("648_long_chinese", longTexts(648, 2000, true, 0), longTexts(648, 2000, true, 1));
    if (qEnvironmentVariableIsSet("VANTOR_BENCH_STALLS_ONLY")) return 0;

    const QList<NodeRuntime> nodes = manyAlerts(10000, 0);
    const QList<NodeRuntime> changed = manyAlerts(10000, 3);
    const QDateTime now = QDateTime::currentDateTimeUtc();

    QList<double> build, update;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer timer;
        timer.start();
        {
            ui::OverviewView view(nullptr);
            view.resize(940, 718);
            view.showContent(nodes, now, figuresOf(nodes));
            view.show();
            QCoreApplication::processEvents();
            view.repaint();
            build.append(elapsedMs(timer));

            timer.restart();
            view.showContent(changed, now.addSecs(10), figuresOf(changed));
            QCoreApplication::processEvents();
            view.repaint();
            update.append(elapsedMs(timer));
        }
        QCoreApplication::processEvents();
    }
    QTextStream(stdout) << "paint events while timing the overview: " << counter.paints << '\n';
    counter.paints = 0;
    report("overview build+show, 3 nodes x 10,000 alerts", build);
    report("overview update in place, 3 nodes x 10,000 changed alerts", update, "ui_update_30000_alerts");

    // The whole window in demo mode: one refresh, its burst of notifications and the one redraw.
    QTemporaryDir data;
    const QString config = data.filePath(u"Vantor/config"_s);
    QDir().mkpath(config);
    QFile file(config + u"/nodes.json"_s);
    if (!file.open(QIODevice::WriteOnly)) return 1;
    file.write(R"([{"id":"a","name":"东京节点","address":"http://127.0.0.1:9100/metrics","token":""},
                  {"id":"b","name":"新加坡节点","address":"http://127.0.0.1:9100/metrics","token":""},
                  {"id":"c","name":"法兰克福节点","address":"http://127.0.0.1:9100/metrics","token":""}])");
    file.close();

    ContentView window(NodeLocations{data.path(), std::nullopt});
    QList<ServerNode> servers;
    for (const NodeRuntime &r : window.store()->nodes())
        servers.append(r.node);
    window.store()->apply(servers, true);
    window.show();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();

    QList<double> refresh;
    for (int run = 0; run < 50; ++run) {
        QElapsedTimer timer;
        timer.start();
        window.store()->refresh();
        QCoreApplication::processEvents();
        window.repaint();
        refresh.append(elapsedMs(timer));
    }
    QTextStream(stdout) << "paint events while timing the window: " << counter.paints << '\n';
    report("window demo refresh + update + repaint, 3 nodes", refresh, "ui_update_3_nodes");
    return 0;
}
