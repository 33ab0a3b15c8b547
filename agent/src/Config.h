#pragma once

#include "Alerts.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantor::agent {

inline constexpr const char *defaultConfigPath = "/etc/vantor-agent/agent.json";

struct Config {
    std::string listenAddress = "127.0.0.1";
    int port = 9100; // 0 asks the system for a free port (tests)
    std::string token;
    bool allowEmptyToken = false;
    std::vector<std::string> services;
    Thresholds thresholds;
    double sampleIntervalSeconds = 5;
    std::string systemctl = "/usr/bin/systemctl";
    // Where the kernel's files and the root file system are found; a container watching its host
    // mounts them elsewhere.
    std::string procRoot = "/proc";
    std::string sysRoot = "/sys";
    std::string rootPath = "/";
};

// A configuration, or a message that names the offending key and what is wrong with it.
std::variant<Config, std::string> parseConfig(std::string_view text);
std::variant<Config, std::string> loadConfig(const std::filesystem::path &path);

// A warning when the file can be read by anyone but its owner; empty when it cannot.
std::string permissionWarning(const std::filesystem::path &path);

} // namespace vantor::agent
