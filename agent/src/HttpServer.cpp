// SPDX-License-Identifier: MIT
#include "HttpServer.h"

#include <gnutls/gnutls.h>
#include <microhttpd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace vantor::agent {

namespace {

struct StopDaemon {
    void operator()(MHD_Daemon *daemon) const { MHD_stop_daemon(daemon); }
};
struct DestroyResponse {
    void operator()(MHD_Response *response) const { MHD_destroy_response(response); }
};

// The bytes of a peer's address, to compare one with another.
std::string addressKey(const sockaddr *address)
{
    if (!address) return {};
    if (address->sa_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in *>(address)->sin_addr;
        return {reinterpret_cast<const char *>(&in), sizeof in};
    }
    if (address->sa_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr;
        return {reinterpret_cast<const char *>(&in6), sizeof in6};
    }
    return {};
}

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

struct HttpServer::Daemon {
    std::optional<TlsPair> tls;                     // libmicrohttpd reads the pair from here while it starts
    std::unique_ptr<MHD_Daemon, StopDaemon> daemon; // stopped before the pair goes
    std::optional<std::chrono::steady_clock::time_point> drainingSince;
};

struct HttpServer::Callbacks {
    static MHD_Result request(void *self, MHD_Connection *connection, const char *url, const char *method,
                              const char *, const char *, std::size_t *, void **)
    {
        auto &server = *static_cast<HttpServer *>(self);
        Request request{method, url, {}, {}, peerAddress(connection)};
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &collectHeader, &request);
        const Reply reply = server.m_handler(request);
        const std::unique_ptr<MHD_Response, DestroyResponse> response(MHD_create_response_from_buffer(
            reply.body.size(), const_cast<char *>(reply.body.data()), MHD_RESPMEM_MUST_COPY));
        if (!response) return MHD_NO;
        // One request per connection: a console or Prometheus polls every few seconds, so a kept
        // connection would only hold a slot, and each connection's time limit is then a request's.
        bool headed =
            MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONTENT_TYPE,
                                    reply.contentType.c_str()) == MHD_YES &&
            MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CACHE_CONTROL, "no-store") == MHD_YES &&
            MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONNECTION, "close") == MHD_YES;
        for (const auto &[name, value] : reply.headers)
            headed =
                headed && MHD_add_response_header(response.get(), name.c_str(), value.c_str()) == MHD_YES;
        // A reply without its headers (no memory) could pass for another: the connection ends instead.
        if (!headed) return MHD_NO;
        return MHD_queue_response(connection, static_cast<unsigned>(reply.status), response.get());
    }

    static void connection(void *self, MHD_Connection *connection, void **,
                           MHD_ConnectionNotificationCode code)
    {
        auto &server = *static_cast<HttpServer *>(self);
        if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            server.m_connections.erase(connection);
            return;
        }
        // Each answer is read before the next question: libmicrohttpd 1.0 answers every one in the
        // same place, so a later one overwrites an earlier one (the descriptor would become part of
        // the address's pointer).
        const auto *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const int fd = info ? info->connect_fd : -1;
        info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        std::string address = addressKey(info ? info->client_addr : nullptr);
        info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
        void *const tls = info ? info->tls_session : nullptr;
        Connection &c = server.m_connections[connection];
        c = {std::chrono::steady_clock::now(), fd, std::move(address)};
        if (!tls || c.fd < 0) return;
        // GnuTLS reads the socket through `pull`, which keeps count. The entry stays put until the
        // connection is closed, after its session is gone; sending still goes straight to the socket.
        c.limit = server.m_limits.tlsBytesPerConnection;
        c.helloLimit = server.m_limits.tlsHelloBytes;
        auto session = static_cast<gnutls_session_t>(tls);
        gnutls_transport_set_ptr2(session, &c,
                                  reinterpret_cast<gnutls_transport_ptr_t>(static_cast<intptr_t>(c.fd)));
        gnutls_transport_set_pull_function(session, &pull);
        gnutls_transport_set_pull_timeout_function(session, &pullTimeout);
    }

    // Refuses a connection over the limits before libmicrohttpd takes it. The limits count every
    // daemon's connections, so a reload does not double them while the old daemon drains.
    static MHD_Result accept(void *self, const sockaddr *address, socklen_t)
    {
        const auto &server = *static_cast<HttpServer *>(self);
        if (server.m_connections.size() >= server.m_limits.connections) return MHD_NO;
        const std::string key = addressKey(address);
        const auto same = std::ranges::count_if(
            server.m_connections, [&](const auto &entry) { return entry.second.address == key; });
        return same < static_cast<std::ptrdiff_t>(server.m_limits.perAddress) ? MHD_YES : MHD_NO;
    }

    static ssize_t pull(gnutls_transport_ptr_t into, void *data, std::size_t size)
    {
        auto &c = *static_cast<Connection *>(into);
        // Past a limit the connection ends as if the client had closed it: an end of stream is the
        // one answer every GnuTLS release takes as final (an error code may be taken as "try again",
        // and the unread bytes would wake the loop at once, over and over).
        if (c.received >= c.limit) return end(c);
        const ssize_t n = recv(c.fd, data, std::min(size, c.limit - c.received), 0);
        if (n <= 0) return n;
        const auto *bytes = static_cast<const unsigned char *>(data);
        for (std::size_t i = c.received; i < sizeof c.head && i < c.received + static_cast<std::size_t>(n);
             ++i)
            c.head[i] = bytes[i - c.received];
        c.received += static_cast<std::size_t>(n);
        // A handshake record whose first message claims more than a hello needs ends here, before
        // GnuTLS sets aside room for all of it.
        if (c.received >= sizeof c.head && c.head[0] == 22) {
            const std::size_t claimed =
                std::size_t{c.head[6]} << 16 | std::size_t{c.head[7]} << 8 | c.head[8];
            if (claimed > c.helloLimit) return end(c);
        }
        return n;
    }

    static ssize_t end(Connection &c)
    {
        c.received = c.limit;
        c.cut = true;
        shutdown(c.fd, SHUT_RDWR);
        return 0;
    }

    static int pullTimeout(gnutls_transport_ptr_t from, unsigned int ms)
    {
        pollfd p{static_cast<Connection *>(from)->fd, POLLIN, 0};
        return poll(&p, 1, ms == GNUTLS_INDEFINITE_TIMEOUT ? -1 : static_cast<int>(std::min(ms, 60'000u)));
    }
};

HttpServer::HttpServer(Handler handler, HttpLimits limits)
    : m_handler(std::move(handler)), m_limits(limits), m_wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

// The daemons go first (members go in reverse order), then the sockets they listened on.
HttpServer::~HttpServer() = default;

std::string HttpServer::listen(const std::string &address, int port, const std::optional<TlsPair> &tls)
{
    if (!m_wakeFd) return std::string("cannot make an event descriptor: ") + std::strerror(errno);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    const std::string where = address + " port " + service;
    if (const int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0)
        return "cannot listen on " + where + ": " + gai_strerror(rc);
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);
    int error = 0;
    for (const addrinfo *a = found; a && !m_listenFd; a = a->ai_next) {
        UniqueFd fd(socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        const int on = 1;
        if (fd && setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            bind(fd.get(), a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd.get(), 128) == 0) {
            m_listenFd = std::move(fd);
            break;
        }
        error = errno;
    }
    if (!m_listenFd)
        return "cannot listen on " + where + ": " + std::strerror(error) +
               " (is the address one of this machine's, and the port free?)";
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (getsockname(m_listenFd.get(), reinterpret_cast<sockaddr *>(&bound), &length) != 0)
        return "cannot tell which port " + where + " took: " + std::strerror(errno);
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
    // Each daemon listens on a copy of the socket and closes that copy when it goes, also when its
    // start fails: the socket itself stays with the running daemon, whatever happens to a new one.
    UniqueFd copy(fcntl(m_listenFd.get(), F_DUPFD_CLOEXEC, 0));
    if (!copy) {
        error = std::string("cannot start a server on the socket: ") + std::strerror(errno);
        return nullptr;
    }
    // select()-style events, not epoll: libmicrohttpd's epoll loop keeps a connection whose TLS
    // handshake waits for more bytes on its list of ready ones, and would turn without pause.
    unsigned flags = MHD_NO_FLAG;
    std::vector<MHD_OptionItem> options{
        {MHD_OPTION_LISTEN_SOCKET, copy.get(), nullptr},
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
    made->daemon.reset(MHD_start_daemon(flags, 0, &Callbacks::accept, this, &Callbacks::request, this,
                                        MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END));
    if (!made->daemon) {
        error = made->tls ? "cannot start the HTTPS server with this certificate and key"
                          : "cannot start the HTTP server";
        return nullptr;
    }
    // Whether libmicrohttpd closed the copy on the way or not, it is the daemon's now.
    copy.release();
    return made;
}

std::string HttpServer::useTls(const std::optional<TlsPair> &tls)
{
    if (m_daemons.back()->tls == tls) return {};
    std::string problem;
    auto fresh = startDaemon(tls, problem);
    if (!fresh) return problem;
    // Both take connections from the socket for a moment; then only the new one does. A quiesced
    // daemon hands its copy of the socket back.
    UniqueFd(MHD_quiesce_daemon(m_daemons.back()->daemon.get()));
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
    [[maybe_unused]] const auto written = write(m_wakeFd.get(), &one, sizeof one);
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
    fd_set read, write, except;
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&except);
    MHD_socket highest = -1;
    int timeout = 1000;
    for (const auto &d : m_daemons) {
        // Fails only for a descriptor past FD_SETSIZE, which the connection limit keeps away; the
        // daemon then serves the rest.
        MHD_get_fdset2(d->daemon.get(), &read, &write, &except, &highest, FD_SETSIZE);
        if (MHD_UNSIGNED_LONG_LONG wait = 0; MHD_get_timeout(d->daemon.get(), &wait) == MHD_YES)
            timeout =
                static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(wait, static_cast<unsigned>(timeout)));
    }
    // Wakes in time to cut the oldest request at its limit.
    const auto now = std::chrono::steady_clock::now();
    for (const auto &[connection, c] : m_connections) {
        if (c.cut || c.fd < 0) continue;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(c.start + m_limits.requestTime - now).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, timeout));
    }
    std::vector<pollfd> fds{{m_wakeFd.get(), POLLIN, 0}};
    for (int fd = 0; fd <= highest; ++fd) {
        const short events =
            static_cast<short>((FD_ISSET(fd, &read) ? POLLIN : 0) | (FD_ISSET(fd, &write) ? POLLOUT : 0) |
                               (FD_ISSET(fd, &except) ? POLLPRI : 0));
        if (events) fds.push_back({fd, events, 0});
    }
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
        std::fprintf(stderr, "vantor-agent: waiting for connections failed: %s\n", std::strerror(errno));
        poll(nullptr, 0, 100); // no event was read, so none is lost; the next turn tries again
    }
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&except);
    // As select() would report them, and as libmicrohttpd reads poll()'s answers itself: an error or a
    // hang-up ends the connection.
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents & POLLIN) FD_SET(fds[i].fd, &read);
        if (fds[i].revents & POLLOUT) FD_SET(fds[i].fd, &write);
        if (fds[i].revents & (POLLPRI | POLLERR | POLLHUP | POLLNVAL)) FD_SET(fds[i].fd, &except);
    }
    if (fds[0].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto got = ::read(m_wakeFd.get(), &count, sizeof count);
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard lock(m_tasksMutex);
            tasks.swap(m_tasks);
        }
        for (auto &task : tasks)
            task();
    }
    for (const auto &d : m_daemons)
        MHD_run_from_select(d->daemon.get(), &read, &write, &except);

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
        const auto *info = MHD_get_daemon_info(d->daemon.get(), MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
        return (info && info->num_connections == 0) || later - *d->drainingSince >= 2 * m_limits.requestTime;
    });
}

} // namespace vantor::agent
