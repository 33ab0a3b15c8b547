// SPDX-License-Identifier: MIT
// Start-up time of the console to its first shown window, on the offscreen platform, measured from
// just before execve() in a fresh process. Two measurements, each repeated:
//
//  * inside: this program runs itself again as a child that does what the console's main() does
//    (QApplication, the look, one ContentView from the standard node locations, show) and notes when
//    each step ended, when the window was first exposed, first painted, and when that first frame
//    had been flushed;
//  * outside: the console binary itself (argument two), untouched; Qt's painting log, stamped with the
//    monotonic clock, says when the first frame of the window was flushed. The log costs a little.
//
// Each child sees a scratch HOME and XDG folders holding a nodes.json of three loopback nodes (a
// port nobody answers on), so the default node list is never loaded. One unmeasured start of each
// kind warms the file cache first.
//
// usage: bench_startup [runs [console]]   (default 7 runs; without a console only the inside figure)
// Lines starting with "BENCH " are for scripts/bench.

#include "app/ContentView.h"
#include "store/MonitorStore.h"
#include "ui/Style.h"

#include <QApplication>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string statusField(const char *name) // a line of /proc/self/status, e.g. "VmRSS:"
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(name, 0) == 0) return line.substr(std::strlen(name));
    return "?";
}

// ---- the child: the console's start, with notes ------------------------------------------------

class FirstFrameWatch : public QObject
{
public:
    FirstFrameWatch(qint64 t0, QWidget *window) : m_t0(t0), m_window(window) {}
    void note(const char *what) { std::printf("PHASE %s %.2f\n", what, double(monotonicNs() - m_t0) / 1e6); }

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && !m_exposed && object->isWindowType() &&
            static_cast<QWindow *>(object)->isExposed()) {
            m_exposed = true;
            note("exposed");
        } else if (event->type() == QEvent::Paint && !m_painted && object->isWidgetType() &&
                   static_cast<QWidget *>(object)->window() == m_window) {
            m_painted = true;
            note("painting");
            // Runs once the paint, and the flush that ends it, have returned to the event loop.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    note("first_frame");
                    QCoreApplication::quit();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    qint64 m_t0;
    QWidget *m_window;
    bool m_exposed = false;
    bool m_painted = false;
};

int childMain(char *program, qint64 t0)
{
    const double entered = double(monotonicNs() - t0) / 1e6;
    int argc = 1;
    char *argv[] = {program, nullptr};
    QApplication app(argc, argv);
    app.setApplicationName(u"Vantor"_s);
    std::printf("PHASE main_entered %.2f\n", entered);
    std::printf("PHASE application %.2f\n", double(monotonicNs() - t0) / 1e6);
    ui::applyLook(app);
    std::printf("PHASE look %.2f\n", double(monotonicNs() - t0) / 1e6);

    ContentView window;
    FirstFrameWatch watch(t0, &window);
    watch.note("window_built");
    for (const NodeRuntime &runtime : window.store()->nodes()) {
        const QString host = QUrl(runtime.node.address).host();
        if (host != u"127.0.0.1"_s && host != u"::1"_s) {
            std::fprintf(stderr, "bench_startup: refusing to run: %s is not a loopback address\n",
                         qPrintable(runtime.node.address));
            return 1;
        }
    }
    app.installEventFilter(&watch);
    window.show();
    watch.note("shown");
    QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(3); }); // never waits forever
    const int status = app.exec();
    std::printf("RSS %s\n", statusField("VmRSS:").c_str());
    return status;
}

// ---- the parent: scratch folders, children, figures --------------------------------------------

struct Scratch {
    std::filesystem::path root;
    Scratch()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantor-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::exit(1);
        root = pattern;
        for (const char *dir : {"home", "config", "cache", "data/Vantor/config"})
            std::filesystem::create_directories(root / dir);
        std::filesystem::create_directory(root / "runtime");
        std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);
        std::ofstream(root / "data/Vantor/config/nodes.json")
            << R"([{"id":"a","name":"东京节点","address":"http://127.0.0.1:9/metrics","token":""},)"
            << R"({"id":"b","name":"新加坡节点","address":"http://127.0.0.1:9/metrics","token":""},)"
            << R"({"id":"c","name":"法兰克福节点","address":"http://127.0.0.1:9/metrics","token":""}])";
        setenv("HOME", (root / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    ~Scratch() { std::filesystem::remove_all(root); }
};

struct Child {
    pid_t pid = -1;
    int out = -1; // the child's stdout (inside) or stderr (outside)
};

// Forks; the child takes the monotonic clock as its last act before execv().
Child spawn(const std::vector<std::string> &args, bool outside)
{
    int fds[2];
    if (pipe(fds) != 0) std::exit(1);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], outside ? STDERR_FILENO : STDOUT_FILENO);
        close(fds[1]);
        if (outside) {
            setenv("QT_LOGGING_RULES", "qt.widgets.painting=true", 1);
            setenv("QT_MESSAGE_PATTERN", "%{time boot} %{message}", 1);
        }
        std::vector<std::string> argv = args;
        if (!outside) argv.push_back(std::to_string(monotonicNs()));
        std::vector<char *> raw;
        for (std::string &a : argv)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        execv(raw[0], raw.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

// Reads the child's lines until `done` says stop or 15 s have passed.
template<class Done> void readLines(const Child &child, Done done)
{
    std::string buffer;
    const qint64 deadline = monotonicNs() + qint64(15) * 1000000000;
    while (monotonicNs() < deadline) {
        pollfd p{child.out, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char chunk[4096];
        const ssize_t n = read(child.out, chunk, sizeof chunk);
        if (n <= 0) return;
        buffer.append(chunk, size_t(n));
        for (size_t eol; (eol = buffer.find('\n')) != std::string::npos;) {
            const std::string line = buffer.substr(0, eol);
            buffer.erase(0, eol + 1);
            if (done(line)) return;
        }
    }
}

int finish(Child &child, bool terminate)
{
    if (terminate) kill(child.pid, SIGTERM);
    close(child.out);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return status;
}

// One inside start: the child's notes, in ms since execve.
std::optional<std::map<std::string, double>> insideRun(const std::string &self)
{
    Child child = spawn({self, "--child"}, false);
    std::map<std::string, double> phases;
    readLines(child, [&](const std::string &line) {
        char name[64];
        double ms = 0;
        if (std::sscanf(line.c_str(), "PHASE %63s %lf", name, &ms) == 2) phases[name] = ms;
        if (line.rfind("RSS ", 0) == 0) phases["rss_kb"] = std::atof(line.c_str() + 4);
        return false;
    });
    const int status = finish(child, false);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !phases.count("first_frame")) return std::nullopt;
    return phases;
}

// One outside start of the console: ms from execve to the first flush of its window.
std::optional<double> outsideRun(const std::string &console)
{
    Child child = spawn({console}, true);
    const qint64 t0 = monotonicNs(); // within microseconds of the child's execv()
    std::optional<double> flushed;
    readLines(child, [&](const std::string &line) {
        if (line.find("Flushing QRegion") == std::string::npos ||
            line.find("of vantor::ContentView") == std::string::npos)
            return false;
        flushed = std::atof(line.c_str()) * 1000.0 - double(t0) / 1e6; // "%{time boot}" is seconds
        return true;
    });
    finish(child, true);
    if (flushed && (*flushed < 0 || *flushed > 15000)) return std::nullopt; // not the same clock
    return flushed;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) return childMain(argv[0], std::atoll(argv[2]));

    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::string console = argc > 2 ? argv[2] : "";
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    Scratch scratch;

    std::map<std::string, std::vector<double>> inside;
    std::vector<double> outside;
    for (int r = -1; r < runs; ++r) { // run -1 warms the caches and is not counted
        const auto phases = insideRun(self);
        if (!phases) {
            std::fprintf(stderr, "bench_startup: the inside start failed\n");
            return 1;
        }
        if (r >= 0)
            for (const auto &[name, ms] : *phases)
                inside[name].push_back(ms);
        if (!console.empty()) {
            const auto ms = outsideRun(console);
            if (!ms) {
                std::fprintf(stderr, "bench_startup: no first frame from %s\n", console.c_str());
                return 1;
            }
            if (r >= 0) outside.push_back(*ms);
        }
    }

    std::printf("start-up on the offscreen platform, ms since execve (median of %d runs)\n", runs);
    for (const char *phase : {"main_entered", "application", "look", "window_built", "shown", "exposed",
                              "painting", "first_frame"})
        std::printf("  %-14s %8.1f ms  (min %.1f, max %.1f)\n", phase, median(inside[phase]),
                    *std::min_element(inside[phase].begin(), inside[phase].end()),
                    *std::max_element(inside[phase].begin(), inside[phase].end()));
    std::printf("  resident memory at the first frame: %.0f kB\n", median(inside["rss_kb"]));
    if (!outside.empty())
        std::printf("console binary, execve to first flushed frame (painting log on): median %.1f ms "
                    "(min %.1f, max %.1f)\n",
                    median(outside), *std::min_element(outside.begin(), outside.end()),
                    *std::max_element(outside.begin(), outside.end()));
    std::printf("BENCH startup_first_frame %.1f ms\n", median(inside["first_frame"]));
    if (!outside.empty()) std::printf("BENCH startup_console %.1f ms\n", median(outside));
    return 0;
}
