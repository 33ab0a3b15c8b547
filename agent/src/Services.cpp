// SPDX-License-Identifier: MIT
#include "Services.h"

#include "Text.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace vantor::agent {

namespace {

struct Pipe {
    int fds[2] = {-1, -1};
    ~Pipe()
    {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    void closeEnd(int i)
    {
        if (fds[i] >= 0) close(fds[i]);
        fds[i] = -1;
    }
};

} // namespace

std::optional<std::string> runProgram(const std::vector<std::string> &argv, std::chrono::milliseconds timeout,
                                      int *exitStatus)
{
    if (argv.empty()) return std::nullopt;
    Pipe out;
    if (pipe2(out.fds, O_CLOEXEC) != 0) return std::nullopt;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The agent blocks its stop signals in every thread; the child must not inherit that mask.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    char locale[] = "LC_ALL=C";
    char *environment[] = {locale, nullptr};

    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    out.closeEnd(1);
    if (spawned != 0) return std::nullopt;

    std::string text;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{out.fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        char buffer[4096];
        const ssize_t n = read(out.fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        // Nothing sensible prints this much; stop a runaway child from growing the agent.
        if (text.size() > (1u << 20)) {
            timedOut = true;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) return std::nullopt;
    if (exitStatus) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return text;
}

ServiceProbe systemctlProbe(std::string systemctl, std::chrono::milliseconds timeout)
{
    return [systemctl = std::move(systemctl), timeout](const std::vector<std::string> &units) {
        std::vector<std::string> states(units.size(), "unknown");
        if (units.empty()) return states;
        std::vector<std::string> argv{systemctl, "is-active", "--"};
        argv.insert(argv.end(), units.begin(), units.end());
        // is-active exits non-zero when any unit is not active; its output still holds every state.
        const auto output = runProgram(argv, timeout);
        if (!output) return states;
        const auto lines = splitLines(*output);
        if (lines.size() != units.size()) return states;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const auto word = trim(lines[i]);
            if (!word.empty()) states[i] = std::string(word);
        }
        return states;
    };
}

} // namespace vantor::agent
