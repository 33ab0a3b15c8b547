// SPDX-License-Identifier: MIT
// vantor-agent: answers the Vantor console's GET /metrics (and Prometheus) with this machine's figures.

#include "Collector.h"
#include "Config.h"
#include "HttpServer.h"
#include "Server.h"
#include "SystemdBus.h"
#include "Text.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <variant>

using namespace vantor::agent;

namespace {

// Exit status for a configuration the agent refuses (sysexits' EX_CONFIG); the systemd unit does not
// restart on it, since a restart cannot mend the file.
constexpr int exitBadConfig = 78;

void usage(std::FILE *to)
{
    std::fprintf(to,
                 "usage: vantor-agent [--config FILE] [--port N] [--check] [--version]\n"
                 "  --config FILE  configuration file (default %s)\n"
                 "  --port N       listen on port N instead of the configured one; 0 takes a free port\n"
                 "                 and names it in the first line of output (for trials and tests)\n"
                 "  --check        read the configuration, report problems and exit\n"
                 "signals: TERM and INT stop the agent, HUP reads the configuration again\n",
                 defaultConfigPath);
}

void say(std::FILE *to, const std::string &line)
{
    std::fprintf(to, "vantor-agent: %s\n", line.c_str());
    std::fflush(to);
}

Collector::Options collectorOptions(const Config &config)
{
    Collector::Options options;
    options.procRoot = config.procRoot;
    options.sysRoot = config.sysRoot;
    options.rootPath = config.rootPath;
    options.services = config.services;
    options.thresholds = config.thresholds;
    options.sampleInterval =
        std::chrono::milliseconds(static_cast<long>(config.sampleIntervalSeconds * 1000));
    const std::chrono::seconds limit(5);
    auto systemd = systemdBusQueries(systemctlProbe(config.systemctl, limit),
                                     systemctlFailedUnits(config.systemctl, limit), limit);
    options.probe = std::move(systemd.probe);
    options.checks = config.checks;
    options.failedUnits = std::move(systemd.failedUnits);
    return options;
}

void warnAbout(const Config &config, const std::string &path)
{
    if (const auto warning = permissionWarning(path); !warning.empty()) say(stderr, "warning: " + warning);
    if (config.token.empty())
        say(stderr, "warning: no token is set; anyone who reaches the port can read the metrics");
}

// Reads the file again on SIGHUP. Everything but where the agent listens takes effect; a file that fails
// the check changes nothing.
void reload(const std::string &path, const Config &started, HttpServer &http, AgentServer &agent,
            Collector &collector)
{
    auto loaded = loadConfig(path);
    if (const auto *problem = std::get_if<std::string>(&loaded)) {
        say(stderr, "configuration not reloaded, the running one stays: " + path + ": " + *problem);
        return;
    }
    Config config = std::get<Config>(std::move(loaded));
    warnAbout(config, path);
    if (config.listenAddress != started.listenAddress || config.port != started.port)
        say(stderr, "the listen address and port change only when the agent is restarted");
    http.post([config = std::move(config), path, &http, &agent, &collector] {
        if (const auto problem = http.useTls(config.tls); !problem.empty()) {
            say(stderr, "configuration not reloaded, the running one stays: " + problem);
            return;
        }
        agent.setConfig(config);
        collector.reconfigure(collectorOptions(config));
        say(stdout, "configuration reloaded from " + path);
    });
}

} // namespace

int main(int argc, char **argv)
{
    std::string configPath = defaultConfigPath;
    std::optional<int> portOverride;
    bool checkOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--config" && i + 1 < argc) {
            configPath = argv[++i];
        } else if (arg.starts_with("--config=")) {
            configPath = arg.substr(std::strlen("--config="));
        } else if (arg == "--port" && i + 1 < argc) {
            const auto port = parseInteger(argv[++i]);
            if (!port || *port < 0 || *port > 65535) {
                say(stderr, "--port takes a whole number from 0 to 65535");
                return 2;
            }
            portOverride = static_cast<int>(*port);
        } else if (arg == "--check") {
            checkOnly = true;
        } else if (arg == "--version") {
            std::printf("vantor-agent %s\n", VANTOR_AGENT_VERSION);
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "vantor-agent: unknown argument \"%s\"\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    auto loaded = loadConfig(configPath);
    if (const auto *problem = std::get_if<std::string>(&loaded)) {
        say(stderr, configPath + ": " + *problem);
        return exitBadConfig;
    }
    const Config config = std::get<Config>(std::move(loaded)); // as the file says, for reloads to compare
    const int port = portOverride.value_or(config.port);
    warnAbout(config, configPath);
    if (checkOnly) {
        say(stdout, configPath + " is valid");
        return 0;
    }

    // The signals are taken by sigwait below; every thread started from here on inherits the block.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Collector collector(collectorOptions(config));
    collector.start();
    AgentServer agent(config, collector);
    HttpServer http([&agent](const Request &request) { return agent.handle(request); });
    if (const auto problem = http.listen(config.listenAddress, port, config.tls); !problem.empty()) {
        say(stderr, problem);
        return 1;
    }
    std::printf("vantor-agent: listening on %s port %d%s, watching %zu service(s)\n",
                config.listenAddress.c_str(), http.port(), config.tls ? " (HTTPS)" : "",
                config.services.size());
    std::fflush(stdout);

    std::thread serving(
        [&http, &agent] { http.run([&agent] { agent.flushRefusals(AgentServer::SteadyClock::now()); }); });
    int received = 0;
    while (sigwait(&signals, &received) == 0 && received == SIGHUP)
        reload(configPath, config, http, agent, collector);
    say(stdout, std::string("stopping on ") + strsignal(received));
    http.stop();
    serving.join();
    return 0;
}
