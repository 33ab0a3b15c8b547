// SPDX-License-Identifier: MIT
#pragma once

#include "Collector.h"
#include "Config.h"

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantor::agent {

// Compares without stopping at the first difference, so the time taken tells nothing about how much
// of a guess was right.
bool tokenMatches(std::string_view expected, std::string_view given);

struct Request {
    std::string method;
    std::string path;
    std::vector<std::string> tokens;         // every X-Monitor-Token header sent
    std::vector<std::string> authorizations; // every Authorization header sent
    std::string peer;                        // the client's address, for the log
};

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
};

// Answers GET /metrics (JSON) and GET /metrics/prometheus (Prometheus text) and nothing else. Used
// from the serving thread only, so it needs no lock of its own.
class AgentServer
{
public:
    using SteadyClock = std::chrono::steady_clock;

    AgentServer(const Config &config, Collector &collector);

    Reply handle(const Request &request);
    // Takes the token of a configuration read again; the rest of it goes to the collector.
    void setConfig(const Config &config);
    // Writes the count of refused requests when the last such line is a minute old; called now and
    // then by the serving loop so that the last burst is not left unsaid.
    void flushRefusals(SteadyClock::time_point now);

private:
    bool authorized(const Request &request) const;
    void noteRefusal(const Request &request, SteadyClock::time_point now);

    std::string m_token;
    Collector &m_collector;
    std::string m_lastFailure;
    // Refused requests are counted and logged at most once a minute.
    std::size_t m_refused = 0;
    std::string m_lastRefusedPeer;
    std::optional<SteadyClock::time_point> m_lastRefusalLog;
};

} // namespace vantor::agent
