#pragma once

#include "Collector.h"
#include "Config.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
class Server;
}

namespace vantor::agent {

// Compares without stopping at the first difference, so the time taken tells nothing about how much
// of a guess was right.
bool tokenMatches(std::string_view expected, std::string_view given);

struct Request {
    std::string method;
    std::string path;
    std::vector<std::string> tokens; // every X-Monitor-Token header sent
};

struct Reply {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// Serves GET /metrics and nothing else.
class AgentServer
{
public:
    AgentServer(Config config, Collector &collector);
    ~AgentServer();

    Reply handle(const Request &request);

    // Binds the listening socket; an error message, or empty on success.
    std::string bind();
    int port() const { return m_port; }
    void run(); // serves until stop()
    void stop();

private:
    void logFailure(const std::string &message);

    const Config m_config;
    Collector &m_collector;
    std::unique_ptr<httplib::Server> m_http;
    int m_port = 0;
    std::mutex m_logMutex;
    std::string m_lastFailure;
};

} // namespace vantor::agent
