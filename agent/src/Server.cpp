// SPDX-License-Identifier: MIT
#include "Server.h"

#include "Prometheus.h"
#include "Text.h"

#include <cstdio>

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
    return {status, std::move(body), "application/json; charset=utf-8", {}};
}

AgentServer::AgentServer(const Config &config, Collector &collector)
    : m_token(config.token), m_collector(collector)
{
}

void AgentServer::setConfig(const Config &config)
{
    m_token = config.token;
}

bool AgentServer::authorized(const Request &request) const
{
    if (m_token.empty()) return true;
    // Exactly one credential, in either header: two could disagree, and a proxy that adds one must not
    // decide which counts. An Authorization header of another scheme is a credential that fails.
    // A field value does not include the blanks at its edges (HTTP's rule), in either header.
    std::vector<std::string_view> given;
    for (const auto &value : request.tokens)
        given.push_back(trim(value));
    for (const auto &value : request.authorizations) {
        const std::string_view v = trim(value);
        constexpr std::string_view scheme = "bearer ";
        bool bearer = v.size() > scheme.size();
        for (std::size_t i = 0; bearer && i < scheme.size(); ++i)
            bearer = (v[i] | 0x20) == scheme[i]; // the scheme's name is case-insensitive
        given.push_back(bearer ? trim(v.substr(scheme.size())) : std::string_view{});
    }
    const bool match = tokenMatches(m_token, given.empty() ? std::string_view{} : given[0]);
    return match && given.size() == 1;
}

Reply AgentServer::handle(const Request &request)
{
    const bool prometheus = request.path == "/metrics/prometheus";
    if (request.path != "/metrics" && !prometheus) return jsonReply(404, R"({"error":"not found"})");
    if (request.method != "GET") {
        Reply reply = jsonReply(405, R"({"error":"method not allowed"})");
        reply.headers.emplace_back("Allow", "GET");
        return reply;
    }
    if (!authorized(request)) {
        noteRefusal(request, SteadyClock::now());
        Reply reply = jsonReply(401, R"({"error":"missing or wrong X-Monitor-Token or bearer token"})");
        reply.headers.emplace_back("WWW-Authenticate", "Bearer");
        return reply;
    }
    std::vector<Sensor> sensors;
    HealthFacts facts;
    auto reading = m_collector.reading(Clock::now(), &sensors, &facts);
    if (auto *failure = std::get_if<std::string>(&reading)) {
        // Once per distinct failure: a console polling a broken machine would fill the journal otherwise.
        if (*failure != m_lastFailure)
            std::fprintf(stderr, "vantor-agent: no reading: %s\n", failure->c_str());
        m_lastFailure = *failure;
        return jsonReply(500, R"({"error":"the agent cannot read this machine's figures; see its log"})");
    }
    const auto &body = std::get<nlohmann::ordered_json>(reading);
    if (prometheus)
        return {200,
                prometheusText(body, sensors, VANTOR_AGENT_VERSION, facts),
                "text/plain; version=0.0.4; charset=utf-8",
                {}};
    // Host names, interface names and sensor labels are bytes from the system, not always UTF-8; a bad
    // byte becomes U+FFFD instead of failing the whole reply.
    return jsonReply(200, body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void AgentServer::noteRefusal(const Request &request, SteadyClock::time_point now)
{
    ++m_refused;
    m_lastRefusedPeer = request.peer;
    flushRefusals(now);
}

void AgentServer::flushRefusals(SteadyClock::time_point now)
{
    if (m_refused == 0 || (m_lastRefusalLog && now - *m_lastRefusalLog < std::chrono::minutes(1))) return;
    std::fprintf(stderr, "vantor-agent: refused %zu request(s) without the right token%s, the last from %s\n",
                 m_refused, m_lastRefusalLog ? " in the last minute" : "", m_lastRefusedPeer.c_str());
    std::fflush(stderr);
    m_refused = 0;
    m_lastRefusalLog = now;
}

} // namespace vantor::agent
