// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace vantor::bench {

// A kB field of /proc/self/status, e.g. "VmHWM:".
inline qint64 statusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ')[0].toLongLong();
    return -1;
}

// Sets the peak resident size back to the current one.
inline void resetPeak()
{
    if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

struct Peak {
    double ms = 0;      // wall time of the work
    double grownMb = 0; // peak resident memory above what was resident before it
};

// Times `work` and the growth of peak resident memory it causes.
template<class Work> Peak measurePeak(Work &&work)
{
    resetPeak();
    const qint64 before = statusKb("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    work();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    return {ms, double(statusKb("VmHWM:") - before) / 1024.0};
}

// Runs `work` in a child process, so that memory freed by earlier work cannot hide growth; returns the
// exit status that `work` returns, or -1 when the child did not end normally.
template<class Work> int inChild(Work &&work)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        const int code = work();
        std::fflush(stdout);
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace vantor::bench
