// SPDX-License-Identifier: MIT
#pragma once

#include "Checks.h"
#include "Sensors.h"
#include "Text.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantor::agent {

// A usage figure raises a warning above `warning` and a critical alert above `critical`.
struct Limits {
    double warning = 85;
    double critical = 95;

    bool operator==(const Limits &) const = default;
};

struct Thresholds {
    Limits cpu{85, 95};
    Limits memory{85, 95};
    Limits disk{85, 95};
    double temperatureC = 85; // warning above this
    Limits inodes{85, 95};    // of every local file system
    Limits swap{50, 80};

    bool operator==(const Thresholds &) const = default;
};

// What the alert rules look at in one reading.
struct Observation {
    double cpuUsage = 0;
    double memoryUsage = 0;
    double diskUsage = 0;
    std::vector<std::pair<std::string, std::string>> services; // unit, state
    std::optional<Sensor> hottest;
};

// What the further checks found in the same reading.
struct Findings {
    std::vector<FileSystemUse> fileSystems;
    std::optional<double> swapUsage;      // absent without swap
    std::vector<std::string> failedUnits; // those also in `services` are alerted there
    std::optional<OomWatch::Episode> oom;
    std::optional<ClockState> clock;
    RebootState reboot;
};

// Failed units beyond this many share one alert that counts them.
inline constexpr std::size_t failedUnitAlerts = 5;

// One condition that holds now. `key` names the condition; with the severity it decides whether an
// alert continues or is a new occurrence.
struct Condition {
    std::string key;
    std::string severity; // "warning" or "critical"
    std::string title;
    std::string detail;
};

std::vector<Condition> assess(const Observation &observation, const Thresholds &thresholds,
                              const Findings &findings = {});

struct Alert {
    std::string id;
    std::string severity;
    std::string title;
    std::string detail;
    Clock::time_point createdAt;
};

// Gives each condition a stable alert: the same id and creation time for as long as it holds from one
// assessment to the next. A condition that lapses is forgotten, so its return is a new alert; so is a
// change of severity (a warning that turns critical is a new event for the operator).
class AlertTracker
{
public:
    std::vector<Alert> update(const std::vector<Condition> &conditions, Clock::time_point now);

private:
    struct Open {
        std::string id;
        Clock::time_point createdAt;
    };
    std::map<std::string, Open> m_open;
};

} // namespace vantor::agent
