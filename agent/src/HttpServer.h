// SPDX-License-Identifier: MIT
#pragma once

#include "Config.h"
#include "Server.h"
#include "UniqueFd.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct MHD_Connection;
struct MHD_Daemon;

namespace vantor::agent {

// What any one client, and all of them together, can hold of the agent.
struct HttpLimits {
    unsigned connections = 512;
    unsigned perAddress = 32;
    std::size_t memoryPerConnection = 16 * 1024;
    // Over HTTPS, what a client may send on one connection in all (handshake and request), and how long
    // a first handshake message may say it is. GnuTLS keeps a handshake message whole before it reads
    // it, however long it claims to be, so these bound the memory a client without a token can take.
    std::size_t tlsBytesPerConnection = 32 * 1024;
    std::size_t tlsHelloBytes = 16 * 1024;
    unsigned idleSeconds = 10;
    std::chrono::milliseconds requestTime{10'000};
};

// The HTTP (or HTTPS) side of the agent, on libmicrohttpd: one thread that waits for events on every
// connection, so a slow or idle client costs a few kilobytes, never a worker. Limits bound what any
// client can hold: connections in all and per address (over every daemon, also while an old one
// drains after a reload), memory per connection (the request's headers must fit in it), time without
// progress and time per request.
class HttpServer
{
public:
    using Handler = std::function<Reply(const Request &)>;

    explicit HttpServer(Handler handler, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds and starts serving (HTTPS with a pair); an error message, or empty on success.
    std::string listen(const std::string &address, int port, const std::optional<TlsPair> &tls);
    int port() const { return m_port; }

    // Serves until stop(). `tick` runs on the serving thread at least once a second.
    void run(const std::function<void()> &tick);
    // From any thread: ends run() at its next turn, which comes at once.
    void stop();
    // From any thread: runs `task` on the serving thread, between two turns of the loop.
    void post(std::function<void()> task);

    // On the serving thread: serves new connections with this pair (or plain HTTP without one) on the
    // same socket; connections already open finish on the old one. An error leaves the old one serving.
    std::string useTls(const std::optional<TlsPair> &tls);

private:
    struct Daemon;
    struct Connection {
        std::chrono::steady_clock::time_point start;
        int fd = -1;         // libmicrohttpd's, which closes it
        std::string address; // the peer's address bytes, for the limit per address
        bool cut = false;
        // Over HTTPS: bytes read from the socket so far, and the first ones, which say how long the
        // first handshake message will be.
        std::size_t received = 0;
        unsigned char head[9] = {};
        std::size_t limit = 0;
        std::size_t helloLimit = 0;
    };

    std::unique_ptr<Daemon> startDaemon(const std::optional<TlsPair> &tls, std::string &error);
    void turn();
    void wake();

    struct Callbacks; // libmicrohttpd's entry points, which see the members below
    friend struct Callbacks;

    Handler m_handler;
    const HttpLimits m_limits;
    UniqueFd m_listenFd;
    UniqueFd m_wakeFd;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::mutex m_tasksMutex;
    std::vector<std::function<void()>> m_tasks;
    // The last daemon takes new connections; earlier ones finish what they hold, then go.
    std::vector<std::unique_ptr<Daemon>> m_daemons;
    std::unordered_map<MHD_Connection *, Connection> m_connections;
};

} // namespace vantor::agent
