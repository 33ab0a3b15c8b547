// SPDX-License-Identifier: MIT
// Clients that try to exhaust the agent without knowing its token, each while a good client polls it
// once a second. Every attack is bounded in count and time and ends by itself.

#include "AgentProcess.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Connections to the agent from a loopback source address of the attacker's own, so that the limit
// per address meets the attacker, not the good client on 127.0.0.1.
struct Sockets {
    std::vector<int> fds;
    ~Sockets() { std::ranges::for_each(fds, close); }
    // Opens `count` connections from `source`, each sending `start`; whether all of them connected.
    bool open(const std::string &source, int port, int count = 1, std::string_view start = "")
    {
        for (int i = 0; i < count; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in from{AF_INET, 0, {}, {}}, to{AF_INET, htons(static_cast<uint16_t>(port)), {}, {}};
            inet_pton(AF_INET, source.c_str(), &from.sin_addr);
            inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
            fds.push_back(fd); // closed with the others even when it does not connect
            if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
                connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0)
                return false;
            send(fd, start.data(), start.size(), MSG_NOSIGNAL);
        }
        return true;
    }
    // How many the agent has ended (end of stream or reset), after any reply it sent.
    long closed() const
    {
        return std::ranges::count_if(fds, [](int fd) {
            char buffer[4096];
            ssize_t n = 1;
            while (n > 0)
                n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            return n == 0 || (errno != EAGAIN && errno != EINTR); // EWOULDBLOCK is EAGAIN here
        });
    }
};

// A request whose header the slow clients then trickle one byte every 4 s.
const char *slowStart = "GET /metrics HTTP/1.1\r\nHost: a\r\nX-Slow: ";

class Abuse : public ::testing::Test
{
protected:
    TempTree tree;
    std::filesystem::path config = tree.write("agent.json", R"({"token": "t"})");
    AgentProcess agent{{"--config", config.string(), "--port", "0"}, tree.root() / "agent.log"};
    long startRssKb = agent.memoryKb("VmRSS");
    std::string metrics = "http://127.0.0.1:" + std::to_string(agent.port) + "/metrics";
    std::atomic<int> asked{0}, answered{0};
    // The good client: a poll a second, answered within 3 s.
    std::jthread poller{[this](std::stop_token stop) {
        while (!stop.stop_requested()) {
            const auto begun = Clock::now();
            answered += fetch(metrics, {"X-Monitor-Token: t"}).status == 200 && Clock::now() - begun <= 3s;
            ++asked;
            std::this_thread::sleep_until(begun + 1s);
        }
    }};

    void SetUp() override { ASSERT_GT(agent.port, 0) << agent.output(); }
    void expectGoodClientServed()
    {
        poller.request_stop();
        poller.join();
        EXPECT_GE(asked, 8);
        EXPECT_GE(answered * 10, asked * 9) << answered << " of " << asked << " polls answered within 3 s";
    }
};

} // namespace

TEST_F(Abuse, SlowHeadersAreCutAtTheRequestTimeLimit)
{
    Sockets slow;
    ASSERT_TRUE(slow.open("127.0.0.2", agent.port, 16, slowStart));
    for (const auto begun = Clock::now(); Clock::now() - begun < 14s;) {
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
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(idle.open("127.0.0." + std::to_string(2 + i), agent.port, 30));
    sameAddress.open("127.0.0.20", agent.port, 40);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(idle.closed(), 0);
    EXPECT_EQ(sameAddress.closed(), 8) << "32 connections per address";
    std::this_thread::sleep_for(11500ms);
    expectGoodClientServed();
    EXPECT_EQ(idle.closed(), 300) << "idle connections end after 10 s";
}

TEST_F(Abuse, HeaderFloodIsRefusedWithinTheMemoryLimit)
{
    std::atomic<long long> sent{0};
    const auto flood = [&](const std::string &source) {
        std::string chunk;
        while (chunk.size() < 64 * 1024)
            chunk += "X-Flood: " + std::string(100, 'a') + "\r\n";
        for (const auto begun = Clock::now(); sent < 64ll << 20 && Clock::now() - begun < 30s;) {
            Sockets s;
            if (!s.open(source, agent.port, 1, "GET /metrics HTTP/1.1\r\n")) continue;
            for (ssize_t n = 0; n >= 0 && sent < 64ll << 20;) {
                n = send(s.fds.at(0), chunk.data(), chunk.size(), MSG_NOSIGNAL);
                sent += n > 0 ? n : 0;
            }
        }
    };
    long peakKb = 0;
    std::jthread a(flood, "127.0.0.3"), b(flood, "127.0.0.4");
    for (const auto begun = Clock::now();
         sent < 64ll << 20 && agent.running() && Clock::now() - begun < 40s;) {
        peakKb = std::max(peakKb, agent.memoryKb("VmRSS"));
        std::this_thread::sleep_for(20ms);
    }
    waitUntil([&] { return asked >= 8; }, 15s); // the polls go on while the memory settles
    expectGoodClientServed();
    EXPECT_GE(sent, 64ll << 20);
    EXPECT_LT(std::max(peakKb, agent.memoryKb("VmHWM")), 64 * 1024);
    EXPECT_LT(agent.memoryKb("VmRSS"), startRssKb + 8 * 1024) << "from " << startRssKb << " kB";
}

TEST_F(Abuse, TerminateEndsTheAgentWhileSlowClientsHoldConnections)
{
    Sockets slow;
    ASSERT_TRUE(slow.open("127.0.0.2", agent.port, 8, slowStart));
    std::this_thread::sleep_for(200ms);
    kill(agent.pid, SIGTERM);
    EXPECT_EQ(agent.waitForExit(2s), 0);
}
