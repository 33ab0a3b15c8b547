// SPDX-License-Identifier: MIT
// Clients that try to exhaust the agent without knowing its token, each while a good client polls it
// once a second. Every attack is bounded in count and time and ends by itself.

#include "AgentProcess.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A connection to the agent from a loopback source address of the attacker's own, so that the limit
// per address meets the attacker, not the good client on 127.0.0.1.
int connectFrom(const std::string &source, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{AF_INET, 0, {}, {}}, to{AF_INET, htons(static_cast<uint16_t>(port)), {}, {}};
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Sockets {
    std::vector<int> fds;
    ~Sockets()
    {
        for (int fd : fds)
            close(fd);
    }
    // How many the agent has ended (end of stream or reset), after any reply it sent.
    int closed() const
    {
        int count = 0;
        char buffer[4096];
        for (int fd : fds) {
            ssize_t n;
            while ((n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            }
            count += n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ? 1 : 0;
        }
        return count;
    }
};

class Abuse : public ::testing::Test
{
protected:
    TempTree tree;
    std::unique_ptr<AgentProcess> agent;
    std::atomic<bool> polling{false};
    std::atomic<int> asked{0}, answered{0};
    std::thread poller;
    long startRssKb = 0;

    void SetUp() override
    {
        const auto config = tree.write("agent.json", R"({"token": "t"})");
        chmod(config.c_str(), 0600);
        agent = std::make_unique<AgentProcess>(
            std::vector<std::string>{"--config", config.string(), "--port", "0"}, tree.root() / "agent.log");
        ASSERT_GT(agent->port(), 0) << agent->output();
        ASSERT_EQ(get().status, 200);
        startRssKb = agent->memoryKb("VmRSS");
    }
    void TearDown() override { stopPolling(); }

    Fetched get()
    {
        return fetch("http://127.0.0.1:" + std::to_string(agent->port()) + "/metrics",
                     {{"X-Monitor-Token: t"}, "", "", 3000});
    }
    void startPolling()
    {
        polling = true;
        poller = std::thread([this] {
            while (polling) {
                const auto begun = Clock::now();
                const bool ok = get().status == 200 && Clock::now() - begun <= 3s;
                ++asked;
                answered += ok ? 1 : 0;
                std::this_thread::sleep_until(begun + 1s);
            }
        });
    }
    void stopPolling()
    {
        polling = false;
        if (poller.joinable()) poller.join();
    }
    void expectGoodClientServed()
    {
        stopPolling();
        EXPECT_GE(asked, 8);
        EXPECT_GE(answered * 10, asked * 9) << answered << " of " << asked << " polls answered within 3 s";
    }
    // Opens `count` connections that send a request line and then trickle one header byte every 4 s.
    void openSlow(Sockets &s, int count)
    {
        for (int i = 0; i < count; ++i) {
            const int fd = connectFrom("127.0.0.2", agent->port());
            ASSERT_GE(fd, 0);
            const char start[] = "GET /metrics HTTP/1.1\r\nHost: a\r\nX-Slow: ";
            send(fd, start, sizeof start - 1, MSG_NOSIGNAL);
            s.fds.push_back(fd);
        }
    }
};

} // namespace

TEST_F(Abuse, SlowHeadersAreCutAtTheRequestTimeLimit)
{
    Sockets slow;
    openSlow(slow, 16);
    startPolling();
    const auto begun = Clock::now();
    while (Clock::now() - begun < 14s) {
        std::this_thread::sleep_for(4s);
        for (int fd : slow.fds)
            send(fd, "a", 1, MSG_NOSIGNAL);
    }
    expectGoodClientServed();
    EXPECT_EQ(slow.closed(), 16) << "every trickling request ends at 10 s";
}

TEST_F(Abuse, IdleConnectionsAreBoundedPerAddressAndTimedOut)
{
    Sockets idle, sameAddress;
    for (int i = 0; i < 300; ++i) {
        const int fd = connectFrom("127.0.0." + std::to_string(2 + i / 30), agent->port());
        ASSERT_GE(fd, 0) << i;
        idle.fds.push_back(fd);
    }
    for (int i = 0; i < 40; ++i)
        sameAddress.fds.push_back(connectFrom("127.0.0.20", agent->port()));
    startPolling();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(idle.closed(), 0);
    EXPECT_EQ(sameAddress.closed(), 8) << "32 connections per address";
    std::this_thread::sleep_for(11500ms);
    expectGoodClientServed();
    EXPECT_EQ(idle.closed(), 300) << "idle connections end after 10 s";
}

TEST_F(Abuse, HeaderFloodIsRefusedWithinTheMemoryLimit)
{
    startPolling();
    std::atomic<long long> sent{0};
    const auto flood = [&](const std::string &source) {
        std::string chunk;
        while (chunk.size() < 64 * 1024)
            chunk += "X-Flood: " + std::string(100, 'a') + "\r\n";
        const auto begun = Clock::now();
        while (sent < 64ll << 20 && Clock::now() - begun < 30s) {
            const int fd = connectFrom(source, agent->port());
            if (fd < 0) continue;
            send(fd, "GET /metrics HTTP/1.1\r\n", 23, MSG_NOSIGNAL);
            for (ssize_t n = 0; n >= 0 && sent < 64ll << 20;) {
                n = send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
                sent += n > 0 ? n : 0;
            }
            close(fd);
        }
    };
    long peakKb = 0;
    const auto begun = Clock::now();
    std::thread a(flood, "127.0.0.3"), b(flood, "127.0.0.4");
    while (sent < 64ll << 20 && agent->running()) {
        peakKb = std::max(peakKb, agent->memoryKb("VmRSS"));
        std::this_thread::sleep_for(20ms);
    }
    a.join();
    b.join();
    const auto seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    while (asked < 8 && Clock::now() - begun < 15s) // the polls go on while the memory settles
        std::this_thread::sleep_for(100ms);
    expectGoodClientServed();
    EXPECT_GE(sent, 64ll << 20);
    EXPECT_LT(std::max(peakKb, agent->memoryKb("VmHWM")), 64 * 1024);
    EXPECT_LT(agent->memoryKb("VmRSS"), startRssKb + 8 * 1024) << "from " << startRssKb << " kB";
    std::printf("flood: %lld bytes in %.1f s; RSS %ld kB before, peak %ld kB, %ld kB after\n", sent.load(),
                seconds, startRssKb, agent->memoryKb("VmHWM"), agent->memoryKb("VmRSS"));
}

TEST_F(Abuse, TerminateEndsTheAgentWhileSlowClientsHoldConnections)
{
    Sockets slow;
    openSlow(slow, 8);
    std::this_thread::sleep_for(200ms);
    kill(agent->pid(), SIGTERM);
    EXPECT_EQ(agent->waitForExit(2s), 0);
}
