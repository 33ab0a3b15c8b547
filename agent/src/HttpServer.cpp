// SPDX-License-Identifier: MIT
#include "HttpServer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>

namespace vantor::agent {

struct HttpServer::Daemon {
    MHD_Daemon *daemon = nullptr;
    std::optional<TlsPair> tls; // libmicrohttpd reads the pair from here while it runs
    std::optional<std::chrono::steady_clock::time_point> drainingSince;
};

namespace {

std::string peerAddress(MHD_Connection *connection)
{
    const auto *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = "?";
    if (info && info->client_addr) {
        const sockaddr *address = info->client_addr;
        if (address->sa_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, text, sizeof text);
        else if (address->sa_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, text,
                      sizeof text);
    }
    return text;
}

MHD_Result collectHeader(void *into, MHD_ValueKind, const char *name, const char *value)
{
    auto &request = *static_cast<Request *>(into);
    if (!value) return MHD_YES;
    if (strcasecmp(name, "X-Monitor-Token") == 0) request.tokens.emplace_back(value);
    if (strcasecmp(name, "Authorization") == 0) request.authorizations.emplace_back(value);
    return MHD_YES;
}

} // namespace

struct HttpServer::Callbacks {
    static MHD_Result request(void *self, MHD_Connection *connection, const char *url, const char *method,
                              const char *, const char *, std::size_t *, void **)
    {
        auto &server = *static_cast<HttpServer *>(self);
        Request request{method, url, {}, {}, peerAddress(connection)};
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &collectHeader, &request);
        const Reply reply = server.m_handler(request);
        MHD_Response *response = MHD_create_response_from_buffer(
            reply.body.size(), const_cast<char *>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
        if (!response) return MHD_NO;
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        // One request per connection: a console or Prometheus polls every few seconds, so a kept
        // connection would only hold a slot, and each connection's time limit is then a request's.
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        for (const auto &[name, value] : reply.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued =
            MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
        MHD_destroy_response(response);
        return queued;
    }

    static void connection(void *self, MHD_Connection *connection, void **,
                           MHD_ConnectionNotificationCode code)
    {
        auto &server = *static_cast<HttpServer *>(self);
        if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            server.m_connections.erase(connection);
            return;
        }
        const auto *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        server.m_connections[connection] = {std::chrono::steady_clock::now(), info ? info->connect_fd : -1,
                                            false};
    }
};

HttpServer::HttpServer(Handler handler, HttpLimits limits) : m_handler(std::move(handler)), m_limits(limits)
{
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

HttpServer::~HttpServer()
{
    // The socket is ours: a quiesced daemon leaves it open.
    for (auto &d : m_daemons) {
        MHD_quiesce_daemon(d->daemon);
        MHD_stop_daemon(d->daemon);
    }
    if (m_listenFd >= 0) close(m_listenFd);
    if (m_wakeFd >= 0) close(m_wakeFd);
}

std::string HttpServer::listen(const std::string &address, int port, const std::optional<TlsPair> &tls)
{
    if (m_wakeFd < 0) return std::string("cannot make an event descriptor: ") + std::strerror(errno);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    const std::string where = address + " port " + service;
    if (const int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0)
        return "cannot listen on " + where + ": " + gai_strerror(rc);
    int error = 0;
    for (addrinfo *a = found; a && m_listenFd < 0; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        const int on = 1;
        if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 128) == 0) {
            m_listenFd = fd;
            break;
        }
        error = errno;
        if (fd >= 0) close(fd);
    }
    freeaddrinfo(found);
    if (m_listenFd < 0)
        return "cannot listen on " + where + ": " + std::strerror(error) +
               " (is the address one of this machine's, and the port free?)";
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&bound), &length);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    std::string problem;
    auto daemon = startDaemon(tls, problem);
    if (!daemon) return problem;
    m_daemons.push_back(std::move(daemon));
    return {};
}

std::unique_ptr<HttpServer::Daemon> HttpServer::startDaemon(const std::optional<TlsPair> &tls,
                                                            std::string &error)
{
    auto made = std::make_unique<Daemon>();
    made->tls = tls;
    unsigned flags = MHD_USE_EPOLL;
    std::vector<MHD_OptionItem> options{
        {MHD_OPTION_LISTEN_SOCKET, m_listenFd, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, m_limits.connections, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, m_limits.perAddress, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(m_limits.memoryPerConnection), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, m_limits.idleSeconds, nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Callbacks::connection), this},
    };
    if (made->tls) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            error = "this build of libmicrohttpd cannot serve HTTPS";
            return nullptr;
        }
        flags |= MHD_USE_TLS;
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, made->tls->key.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, made->tls->certificate.data()});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    made->daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Callbacks::request, this, MHD_OPTION_ARRAY,
                                    options.data(), MHD_OPTION_END);
    if (!made->daemon) {
        error = made->tls ? "cannot start the HTTPS server with this certificate and key"
                          : "cannot start the HTTP server";
        return nullptr;
    }
    return made;
}

std::string HttpServer::useTls(const std::optional<TlsPair> &tls)
{
    if (m_daemons.back()->tls == tls) return {};
    std::string problem;
    auto fresh = startDaemon(tls, problem);
    if (!fresh) return problem;
    // Both take connections from the socket for a moment; then only the new one does.
    MHD_quiesce_daemon(m_daemons.back()->daemon);
    m_daemons.back()->drainingSince = std::chrono::steady_clock::now();
    m_daemons.push_back(std::move(fresh));
    return {};
}

void HttpServer::stop()
{
    m_stopping = true;
    wake();
}

void HttpServer::post(std::function<void()> task)
{
    {
        std::lock_guard lock(m_tasksMutex);
        m_tasks.push_back(std::move(task));
    }
    wake();
}

void HttpServer::wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(m_wakeFd, &one, sizeof one);
}

void HttpServer::run(const std::function<void()> &tick)
{
    while (!m_stopping) {
        turn();
        if (tick) tick();
    }
}

void HttpServer::turn()
{
    std::vector<pollfd> fds{{m_wakeFd, POLLIN, 0}};
    int timeout = 1000;
    for (const auto &d : m_daemons) {
        if (const auto *info = MHD_get_daemon_info(d->daemon, MHD_DAEMON_INFO_EPOLL_FD))
            fds.push_back({info->epoll_fd, POLLIN, 0});
        MHD_UNSIGNED_LONG_LONG wait = 0;
        if (MHD_get_timeout(d->daemon, &wait) == MHD_YES)
            timeout = std::min<int>(timeout, static_cast<int>(wait));
    }
    // Wakes in time to cut the oldest request at its limit.
    const auto now = std::chrono::steady_clock::now();
    for (const auto &[connection, c] : m_connections) {
        if (c.cut || c.fd < 0) continue;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(c.start + m_limits.requestTime - now).count();
        timeout = std::clamp<int>(static_cast<int>(left), 0, timeout);
    }
    if (poll(fds.data(), fds.size(), timeout) > 0 && (fds[0].revents & POLLIN)) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(m_wakeFd, &count, sizeof count);
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard lock(m_tasksMutex);
            tasks.swap(m_tasks);
        }
        for (auto &task : tasks)
            task();
    }
    for (const auto &d : m_daemons)
        MHD_run(d->daemon);

    // A request that trickles in (or out) a byte at a time never idles out; it is cut at its limit.
    // Shutting the socket down, not closing it, lets libmicrohttpd close it in its own time.
    const auto later = std::chrono::steady_clock::now();
    for (auto &[connection, c] : m_connections) {
        if (c.cut || later - c.start < m_limits.requestTime || c.fd < 0) continue;
        shutdown(c.fd, SHUT_RDWR);
        c.cut = true;
    }
    // An old daemon goes once its connections are done, which the request time limit bounds.
    std::erase_if(m_daemons, [&](const std::unique_ptr<Daemon> &d) {
        if (!d->drainingSince) return false;
        const auto *info = MHD_get_daemon_info(d->daemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
        if ((!info || info->num_connections != 0) && later - *d->drainingSince < 2 * m_limits.requestTime)
            return false;
        MHD_stop_daemon(d->daemon);
        return true;
    });
}

} // namespace vantor::agent
