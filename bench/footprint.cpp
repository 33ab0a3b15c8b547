// SPDX-License-Identifier: MIT
// Resident memory of the console beside a bare Qt Widgets window, started side by side in one run under
// the same conditions: the same platform plugin (offscreen unless QT_QPA_PLATFORM says otherwise), the
// same throw-away HOME and XDG folders, whose nodes.json lists three fake agents on 127.0.0.1. The
// agents live in this process, which is not measured; the console and the bare window are child
// processes. After the wait both VmRSS figures and their ratio are printed, then the mappings of
// /proc/PID/smaps grouped by file (or heap) with the largest differences first.
//
// usage: bench_footprint [seconds] [console binary]
//   seconds: the wait, default 60, from 5 to 600; the console polls every 10 s meanwhile
//   console binary: default ../src/vantor beside this program's folder; the bare window is
//   bench_bare_window in this program's folder
// Both children are killed at the end, and when this process dies. Lines starting with "BENCH " are
// for scripts/bench.

#include "FakeAgent.h"
#include "Replies.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <signal.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

// kB figures of /proc/PID/status or another /proc/PID file, e.g. statusKb(pid, "VmRSS:").
long statusKb(qint64 pid, const QByteArray &field, const QString &file = u"status"_s)
{
    QFile status(u"/proc/%1/%2"_s.arg(pid).arg(file));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(field.size()).simplified().split(' ').value(0).toLong();
    return -1;
}

// Resident kB of each mapping name: a library's file name, [heap], [anon] (nameless mappings) and so on.
QHash<QByteArray, long> residentByMapping(qint64 pid)
{
    QHash<QByteArray, long> rss;
    QFile smaps(u"/proc/%1/smaps"_s.arg(pid));
    if (!smaps.open(QIODevice::ReadOnly)) return rss;
    QByteArray name;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.isEmpty() || fields[0].isEmpty()) continue;
        if (fields[0].contains('-') &&
            !fields[0].endsWith(':')) { // "start-end perms offset dev inode [path]"
            name = fields.size() > 5 ? fields[5] : "[anon]";
            name = name.mid(name.lastIndexOf('/') + 1);
        } else if (fields[0] == "Rss:" && fields.size() > 1) {
            rss[name] += fields[1].toLong();
        }
    }
    return rss;
}

void printMappings(qint64 console, qint64 bare, int rows)
{
    const QHash<QByteArray, long> a = residentByMapping(console);
    const QHash<QByteArray, long> b = residentByMapping(bare);
    QList<QByteArray> names = a.keys();
    for (const QByteArray &name : b.keys())
        if (!a.contains(name)) names.append(name);
    std::sort(names.begin(), names.end(), [&](const QByteArray &x, const QByteArray &y) {
        return std::abs(a.value(x) - b.value(x)) > std::abs(a.value(y) - b.value(y));
    });
    std::printf("\n%-40s %10s %10s %10s\n", "resident kB by mapping", "console", "bare", "difference");
    for (const QByteArray &name : names.first(std::min<qsizetype>(rows, names.size())))
        std::printf("%-40s %10ld %10ld %+10ld\n", name.constData(), a.value(name), b.value(name),
                    a.value(name) - b.value(name));
}

// The throw-away HOME and XDG folders, and the environment that points at them.
QProcessEnvironment scratchEnvironment(const QString &root, const QList<quint16> &ports)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QStringList dirs = {u"home"_s, u"data/Vantor/config"_s, u"config"_s, u"cache"_s, u"runtime"_s};
    for (const QString &dir : dirs)
        QDir(root).mkpath(dir);
    QFile::setPermissions(root + u"/runtime"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(u"HOME"_s, root + u"/home"_s);
    env.insert(u"XDG_DATA_HOME"_s, root + u"/data"_s);
    env.insert(u"XDG_CONFIG_HOME"_s, root + u"/config"_s);
    env.insert(u"XDG_CACHE_HOME"_s, root + u"/cache"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, root + u"/runtime"_s);
    if (!env.contains(u"QT_QPA_PLATFORM"_s)) env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);

    const QStringList names = {u"东京节点"_s, u"新加坡节点"_s, u"法兰克福节点"_s};
    QStringList entries;
    for (int i = 0; i < ports.size(); ++i)
        entries
            << uR"({"id": "node-%1", "name": "%2", "address": "http://127.0.0.1:%3/metrics", "token": ""})"_s
                   .arg(i)
                   .arg(names.value(i), QString::number(ports[i]));
    QFile nodes(root + u"/data/Vantor/config/nodes.json"_s);
    if (nodes.open(QIODevice::WriteOnly))
        nodes.write(u"[\n  %1\n]\n"_s.arg(entries.join(u",\n  "_s)).toUtf8());
    return env;
}

std::unique_ptr<QProcess> start(const QString &program, const QStringList &arguments,
                                const QProcessEnvironment &env)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process->start(program, arguments);
    return process;
}

// Runs the event loop (the fake agents answer meanwhile) for `ms`, or until a child has gone.
bool waitWhileRunning(int ms, const QProcess &console, const QProcess &bare)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (console.state() != QProcess::Running || bare.state() != QProcess::Running) return false;
        QEventLoop loop;
        QTimer::singleShot(200, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::clamp(std::atoi(argv[1]), 5, 600) : 60;
    int qtArgc = 1; // the arguments are ours
    QCoreApplication app(qtArgc, argv);
    const QString console = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                     : QCoreApplication::applicationDirPath() + u"/../src/vantor"_s;
    if (!QFile::exists(console)) {
        std::fprintf(stderr, "bench_footprint: no console binary at %s\n", qPrintable(console));
        return 1;
    }

    std::vector<std::unique_ptr<test::FakeAgent>> agents;
    QList<quint16> ports;
    for (int i = 0; i < 3; ++i) {
        agents.push_back(std::make_unique<test::FakeAgent>());
        agents.back()->answer(200, bench::typicalReply);
        ports.append(agents.back()->port());
    }
    QTemporaryDir scratch;
    const QProcessEnvironment env = scratchEnvironment(scratch.path(), ports);

    const auto consoleProcess = start(console, {}, env);
    const auto bareProcess = start(QCoreApplication::applicationDirPath() + u"/bench_bare_window"_s, {}, env);
    const bool ran = consoleProcess->waitForStarted(10000) && bareProcess->waitForStarted(10000) &&
                     waitWhileRunning(seconds * 1000, *consoleProcess, *bareProcess);

    int status = 0;
    qsizetype fewest = std::numeric_limits<qsizetype>::max();
    for (const auto &agent : agents)
        fewest = std::min(fewest, agent->requests().size());
    if (!ran) {
        std::fprintf(stderr, "bench_footprint: the console or the bare window did not keep running\n");
        status = 1;
    } else if (fewest == 0) {
        std::fprintf(stderr, "bench_footprint: the console did not poll every agent\n");
        status = 1;
    } else {
        const qint64 a = consoleProcess->processId();
        const qint64 b = bareProcess->processId();
        const double consoleMb = double(statusKb(a, "VmRSS:")) / 1024.0;
        const double bareMb = double(statusKb(b, "VmRSS:")) / 1024.0;
        std::printf("after %d s, at least %lld polls of each of 3 agents (%s platform)\n", seconds,
                    qlonglong(fewest), qPrintable(env.value(u"QT_QPA_PLATFORM"_s)));
        std::printf("%-12s VmRSS %6.1f MB (anonymous %6.1f, file-backed %6.1f)\n", "console", consoleMb,
                    double(statusKb(a, "RssAnon:")) / 1024.0, double(statusKb(a, "RssFile:")) / 1024.0);
        std::printf("%-12s VmRSS %6.1f MB (anonymous %6.1f, file-backed %6.1f)\n", "bare window", bareMb,
                    double(statusKb(b, "RssAnon:")) / 1024.0, double(statusKb(b, "RssFile:")) / 1024.0);
        std::printf("ratio %.2f\n", consoleMb / bareMb);
        // Pages only this process maps: what its exit would give back. Library and font pages that
        // another running program also maps (the two children share Qt's) are left out.
        const auto privateMb = [](qint64 pid) {
            return double(statusKb(pid, "Private_Clean:", u"smaps_rollup"_s) +
                          statusKb(pid, "Private_Dirty:", u"smaps_rollup"_s)) /
                   1024.0;
        };
        std::printf("private      console %6.1f MB, bare window %6.1f MB, ratio %.2f\n", privateMb(a),
                    privateMb(b), privateMb(a) / privateMb(b));
        std::printf("BENCH rss_console_1min %.1f MB\n", consoleMb);
        std::printf("BENCH rss_bare_window_1min %.1f MB\n", bareMb);
        std::printf("BENCH rss_ratio_to_bare %.2f x\n", consoleMb / bareMb);
        printMappings(a, b, 25);
    }
    for (const auto &process : {consoleProcess.get(), bareProcess.get()}) {
        process->kill();
        process->waitForFinished(5000);
    }
    return status;
}
