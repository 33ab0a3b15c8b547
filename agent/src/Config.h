// SPDX-License-Identifier: MIT
#pragma once

#include "Alerts.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantor::agent {

inline constexpr const char *defaultConfigPath = "/etc/vantor-agent/agent.json";

// A certificate chain and its private key, both PEM, as read from the files the configuration names.
struct TlsPair {
    std::string certificate;
    std::string key;

    bool operator==(const TlsPair &) const = default;
};

struct Config {
    std::string listenAddress = "127.0.0.1";
    int port = 9100;
    std::string token;
    bool allowEmptyToken = false;
    std::vector<std::string> services{};
    Thresholds thresholds{};
    CheckSwitches checks{};
    double sampleIntervalSeconds = 5;
    std::string systemctl = "/usr/bin/systemctl";
    // Where the kernel's files and the root file system are found; a container watching its host
    // mounts them elsewhere.
    std::string procRoot = "/proc";
    std::string sysRoot = "/sys";
    std::string rootPath = "/";
    // With these the agent serves HTTPS only; loadConfig fills `tls` from the two files.
    std::string tlsCertificatePath{};
    std::string tlsKeyPath{};
    std::optional<TlsPair> tls{};
};

// A configuration, or a message that names the offending key (or the line and column of a syntax
// error) and what is wrong with it. Messages never quote a string value of the file: one of them is
// the token.
std::variant<Config, std::string> parseConfig(std::string_view text);
// Reads the file, parses it and reads and checks the TLS pair it names.
std::variant<Config, std::string> loadConfig(const std::filesystem::path &path);

// Why a file cannot be used, in words, from the errno readFile left.
std::string describeReadError(int error);

// A warning when the file can be read by anyone but its owner; empty when it cannot.
std::string permissionWarning(const std::filesystem::path &path);

} // namespace vantor::agent
