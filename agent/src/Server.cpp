#include "Server.h"

#include <httplib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vantor::agent {

bool tokenMatches(std::string_view expected, std::string_view given)
{
    // Walks the whole of `given` whatever it holds; only the expected length is fixed by the config.
    unsigned char difference = expected.size() == given.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i) {
        const unsigned char want =
            expected.empty() ? 0 : static_cast<unsigned char>(expected[i % expected.size()]);
        difference |= static_cast<unsigned char>(want ^ static_cast<unsigned char>(given[i]));
    }
    return difference == 0;
}

static Reply jsonReply(int status, std::string body)
{
    return {status, std::move(body), {}};
}

AgentServer::AgentServer(Config config, Collector &collector)
    : m_config(std::move(config)), m_collector(collector), m_http(std::make_unique<httplib::Server>())
{
    // A handful of workers is plenty for one console polling every ten seconds.
    m_http->new_task_queue = [] { return new httplib::ThreadPool(4); };
    m_http->set_read_timeout(5, 0);
    m_http->set_write_timeout(5, 0);
    // One request per connection. The console polls every ten seconds, so a kept-alive connection
    // would idle out unused, and the library watches idle connections by waking every few milliseconds.
    m_http->set_keep_alive_max_count(1);
    m_http->set_payload_max_length(4096);
    // Every request is answered here, before the library's own routing, so that each path and method
    // gets exactly the status chosen below.
    m_http->set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        Request request{req.method, req.path, {}};
        const std::size_t count = req.get_header_value_count("X-Monitor-Token");
        for (std::size_t i = 0; i < count; ++i)
            request.tokens.push_back(req.get_header_value("X-Monitor-Token", i));
        const Reply reply = handle(request);
        res.status = reply.status;
        for (const auto &[name, value] : reply.headers)
            res.set_header(name, value);
        res.set_header("Cache-Control", "no-store");
        res.set_content(reply.body, "application/json; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    });
}

AgentServer::~AgentServer() = default;

Reply AgentServer::handle(const Request &request)
{
    if (request.path != "/metrics") return jsonReply(404, R"({"error":"not found"})");
    if (request.method != "GET") {
        Reply reply = jsonReply(405, R"({"error":"method not allowed"})");
        reply.headers.emplace_back("Allow", "GET");
        return reply;
    }
    if (!m_config.token.empty()) {
        // Exactly one token header, and it must be the configured token.
        bool ok = request.tokens.size() == 1;
        ok = tokenMatches(m_config.token, request.tokens.empty() ? std::string_view{} : request.tokens[0]) &&
             ok;
        if (!ok) return jsonReply(401, R"({"error":"missing or wrong X-Monitor-Token"})");
    }
    auto reading = m_collector.reading(Clock::now());
    if (auto *failure = std::get_if<std::string>(&reading)) {
        logFailure(*failure);
        return jsonReply(500, R"({"error":"the agent cannot read this machine's figures; see its log"})");
    }
    // Host names, interface names and sensor labels are bytes from the system, not always UTF-8; a bad
    // byte becomes U+FFFD instead of failing the whole reply.
    return jsonReply(200, std::get<nlohmann::ordered_json>(reading).dump(
                              -1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void AgentServer::logFailure(const std::string &message)
{
    // Once per distinct failure: a console polling a broken machine would fill the journal otherwise.
    std::lock_guard lock(m_logMutex);
    if (message == m_lastFailure) return;
    m_lastFailure = message;
    std::fprintf(stderr, "vantor-agent: no reading: %s\n", message.c_str());
}

std::string AgentServer::bind()
{
    errno = 0;
    const auto &host = m_config.listenAddress;
    if (m_config.port == 0)
        m_port = m_http->bind_to_any_port(host);
    else
        m_port = m_http->bind_to_port(host, m_config.port) ? m_config.port : -1;
    if (m_port > 0) return {};
    return "cannot listen on " + host + " port " + std::to_string(m_config.port) +
           (errno ? std::string(": ") + std::strerror(errno) : std::string()) +
           " (is the address one of this machine's, and the port free?)";
}

void AgentServer::run()
{
    m_http->listen_after_bind();
}

void AgentServer::stop()
{
    m_http->stop();
}

} // namespace vantor::agent
