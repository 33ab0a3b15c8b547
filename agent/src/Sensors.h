// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantor::agent {

struct Sensor {
    std::string name; // the sensor's label, e.g. "Package id 0"
    std::string chip; // the driver that exposes it, e.g. "coretemp"
    double celsius = 0;
};

// Every temperature under <sysRoot>/class/hwmon and <sysRoot>/class/thermal, in a stable order.
// Readings no working sensor gives (below -40 °C, 150 °C and above) are dropped.
std::vector<Sensor> readSensors(const std::filesystem::path &sysRoot);

struct Temperatures {
    std::optional<double> cpu;    // hottest processor sensor
    std::optional<double> memory; // hottest memory-module sensor
    std::optional<Sensor> hottest;
};

Temperatures summarize(const std::vector<Sensor> &sensors);

// The temperature of the disk that holds the block device major:minor, when the disk reports one
// (NVMe and drivetemp sensors hang under the disk's device folder).
std::optional<double> diskTemperature(const std::filesystem::path &sysRoot, unsigned major, unsigned minor);

} // namespace vantor::agent
