// vantor-agent: answers the Vantor console's GET /metrics with this machine's figures.

#include "Collector.h"
#include "Config.h"
#include "Server.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
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
                 "usage: vantor-agent [--config FILE] [--check] [--version]\n"
                 "  --config FILE  configuration file (default %s)\n"
                 "  --check        read the configuration, report problems and exit\n",
                 defaultConfigPath);
}

} // namespace

int main(int argc, char **argv)
{
    std::string configPath = defaultConfigPath;
    bool checkOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--config" && i + 1 < argc) {
            configPath = argv[++i];
        } else if (arg.starts_with("--config=")) {
            configPath = arg.substr(std::strlen("--config="));
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
        std::fprintf(stderr, "vantor-agent: %s: %s\n", configPath.c_str(), problem->c_str());
        return exitBadConfig;
    }
    const Config config = std::get<Config>(std::move(loaded));
    if (const auto warning = permissionWarning(configPath); !warning.empty())
        std::fprintf(stderr, "vantor-agent: warning: %s\n", warning.c_str());
    if (config.token.empty())
        std::fprintf(stderr,
                     "vantor-agent: warning: no token is set; anyone who reaches the port can read the "
                     "metrics\n");
    if (checkOnly) {
        std::printf("vantor-agent: %s is valid\n", configPath.c_str());
        return 0;
    }

    // Stop signals are taken by sigwait below; every thread started from here on inherits the block.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Collector::Options options;
    options.procRoot = config.procRoot;
    options.sysRoot = config.sysRoot;
    options.rootPath = config.rootPath;
    options.services = config.services;
    options.thresholds = config.thresholds;
    options.sampleInterval =
        std::chrono::milliseconds(static_cast<long>(config.sampleIntervalSeconds * 1000));
    options.probe = systemctlProbe(config.systemctl, std::chrono::seconds(5));
    Collector collector(std::move(options));
    collector.start();

    AgentServer server(config, collector);
    if (const auto problem = server.bind(); !problem.empty()) {
        std::fprintf(stderr, "vantor-agent: %s\n", problem.c_str());
        return 1;
    }
    std::printf("vantor-agent: listening on %s port %d, watching %zu service(s)\n",
                config.listenAddress.c_str(), server.port(), config.services.size());
    std::fflush(stdout);

    std::atomic<bool> served{false};
    std::thread serving([&server, &served] {
        server.run();
        served = true;
    });
    int received = 0;
    sigwait(&stopSignals, &received);
    std::printf("vantor-agent: stopping on %s\n", strsignal(received));
    std::fflush(stdout);
    // A stop that comes before the server loop has begun would be lost, so it is repeated until
    // the loop has ended.
    while (!served) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    serving.join();
    return 0;
}
