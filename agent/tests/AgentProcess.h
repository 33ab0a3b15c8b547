// SPDX-License-Identifier: MIT
#pragma once

// The real vantor-agent as a child process, and an HTTP client for it (libcurl), for the tests that
// talk to it over loopback.

#include <curl/curl.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Checks `done` every 10 ms until it holds (true) or about `limit` has passed (false).
template<typename Predicate>
bool waitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    for (auto tries = limit.count() / 10; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (--tries < 0) return false;
    return true;
}

// How the agent is started: a build for another processor runs it under the emulator that runs the
// tests (qemu-user), which cannot start a foreign binary by itself.
#ifdef VANTOR_AGENT_EMULATOR
inline constexpr const char *agentCommand[] = {VANTOR_AGENT_EMULATOR, VANTOR_AGENT_BINARY};
#else
inline constexpr const char *agentCommand[] = {VANTOR_AGENT_BINARY};
#endif

struct AgentProcess {
    std::filesystem::path log;
    pid_t pid = -1;
    int port = 0;              // 0 when it never listened
    std::optional<int> status; // waitpid's, once it has ended

    // Starts the agent with `args`, its output going to `log`; waits until it listens or ends.
    AgentProcess(std::vector<std::string> args, std::filesystem::path logFile) : log(std::move(logFile))
    {
        // Made before fork, ending in a null: the child of a threaded test may not allocate.
        std::vector<char *> argv;
        for (const char *word : agentCommand)
            argv.push_back(const_cast<char *>(word));
        argv.push_back(nullptr);
        for (auto &a : args)
            argv.insert(argv.end() - 1, a.data());
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
        if ((pid = fork()) == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the test
            dup2(fd, 1);
            dup2(fd, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fd);
        const std::regex listening(R"(listening on \S+ port (\d+))");
        std::string text;
        std::smatch m;
        waitUntil([&] { return !running() || std::regex_search(text = output(), m, listening); });
        if (!m.empty()) port = std::stoi(m[1]);
    }
    ~AgentProcess()
    {
        if (running() && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }

    std::string output() const { return (std::ostringstream() << std::ifstream(log).rdbuf()).str(); }
    bool running()
    {
        if (int s = 0; !status && waitpid(pid, &s, WNOHANG) == pid) status = s;
        return !status;
    }
    // The exit status once the agent has ended within `limit`, or nothing; -signal when killed.
    std::optional<int> waitForExit(std::chrono::milliseconds limit)
    {
        if (!waitUntil([&] { return !running(); }, limit)) return std::nullopt;
        return WIFEXITED(*status) ? WEXITSTATUS(*status) : -WTERMSIG(*status);
    }
    // The processor time the agent has used so far, user and system, in clock ticks.
    long cpuTicks() const
    {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long user = 0, system = 0;
        for (int i = 3; i <= 13 && fields >> field; ++i) { // fields 3 to 13 of proc(5) come first
        }
        fields >> user >> system;
        return user + system;
    }
    // A field of /proc/PID/status in kB (VmRSS, VmHWM).
    long memoryKb(const std::string &field) const
    {
        std::ifstream in("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
        return -1;
    }
};

struct Fetched {
    long status = 0; // 0 when no reply came within 3 s, and then libcurl's message in `error`
    std::string body, contentType, error;
};

// A GET with this request header; `caFile` names a CA to trust in place of the system's bundle.
inline Fetched fetch(const std::string &url, const std::string &header = "", const std::string &caFile = "")
{
    Fetched result;
    CURL *curl = curl_easy_init();
    curl_slist *list = header.empty() ? nullptr : curl_slist_append(nullptr, header.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 3000L);
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char *data, size_t size, size_t count, void *into) {
            static_cast<std::string *>(into)->append(data, size * count);
            return size * count;
        });
    if (const CURLcode code = curl_easy_perform(curl); code != CURLE_OK)
        result.error = curl_easy_strerror(code);
    char *type = nullptr; // the code stays 0 and the type null when no reply came
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
    result.contentType = type ? type : "";
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return result;
}
