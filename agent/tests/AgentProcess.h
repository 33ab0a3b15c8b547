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
#include <string>
#include <thread>
#include <vector>

class AgentProcess
{
public:
    // Starts the agent with `args` on a free port, its output going to `log`; waits until it listens.
    AgentProcess(std::vector<std::string> args, std::filesystem::path log) : m_log(std::move(log))
    {
        args.insert(args.begin(), VANTOR_AGENT_BINARY);
        std::vector<char *> argv; // made before fork: the child of a threaded test may not allocate
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int fd = open(m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
        if ((m_pid = fork()) == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the test
            dup2(fd, 1);
            dup2(fd, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fd);
        const std::regex listening(R"(listening on \S+ port (\d+))");
        std::smatch m;
        for (int i = 0; i < 200 && m_port == 0 && running(); ++i) {
            const std::string text = output();
            if (std::regex_search(text, m, listening))
                m_port = std::stoi(m[1]);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~AgentProcess()
    {
        if (!running()) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    AgentProcess(const AgentProcess &) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    std::string output() const
    {
        std::ifstream in(m_log);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool running()
    {
        int status = 0;
        if (!m_status && waitpid(m_pid, &status, WNOHANG) == m_pid) m_status = status;
        return !m_status;
    }
    // The exit status once the agent has ended within `limit`, or nothing; -signal when killed.
    std::optional<int> waitForExit(std::chrono::milliseconds limit)
    {
        for (const auto end = std::chrono::steady_clock::now() + limit;
             running() && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!m_status) return std::nullopt;
        return WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : -WTERMSIG(*m_status);
    }
    // A field of /proc/PID/status in kB (VmRSS, VmHWM).
    long memoryKb(const std::string &field) const
    {
        std::ifstream in("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
        return -1;
    }

private:
    std::filesystem::path m_log;
    pid_t m_pid = -1;
    int m_port = 0;
    std::optional<int> m_status;
};

struct Fetched {
    long status = 0; // 0 when no reply came
    std::string body, contentType;
    std::string error; // libcurl's message when no reply came
};

struct FetchOptions {
    std::vector<std::string> headers;
    std::string caFile;  // trusts only this CA when set
    std::string resolve; // "host:port:127.0.0.1", to reach a certificate's host name on loopback
    long timeoutMs = 5000;
};

inline Fetched fetch(const std::string &url, const FetchOptions &options = {})
{
    Fetched result;
    CURL *curl = curl_easy_init();
    curl_slist *headers = nullptr, *resolve = nullptr;
    for (const auto &h : options.headers)
        headers = curl_slist_append(headers, h.c_str());
    if (!options.resolve.empty()) resolve = curl_slist_append(resolve, options.resolve.c_str());
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.timeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    if (!options.caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str());
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char *data, size_t size, size_t count, void *into) {
            static_cast<std::string *>(into)->append(data, size * count);
            return size * count;
        });
    char *type = nullptr;
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
        curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
        result.contentType = type ? type : "";
    } else {
        result.error = error;
    }
    curl_slist_free_all(headers);
    curl_slist_free_all(resolve);
    curl_easy_cleanup(curl);
    return result;
}
