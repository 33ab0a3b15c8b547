// SPDX-License-Identifier: MIT
#include "Sensors.h"

#include "Text.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace fs = std::filesystem;

namespace vantor::agent {

static std::vector<fs::path> sortedEntries(const fs::path &dir)
{
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    return entries;
}

static std::optional<double> readMillidegrees(const fs::path &file)
{
    const auto text = readFile(file);
    if (!text) return std::nullopt;
    const auto value = parseInteger(trim(*text));
    if (!value) return std::nullopt;
    const double celsius = static_cast<double>(*value) / 1000.0;
    if (celsius <= -40 || celsius >= 150) return std::nullopt;
    return celsius;
}

static std::string readLabel(const fs::path &file, std::string fallback)
{
    const auto text = readFile(file);
    const auto label = text ? trim(*text) : std::string_view{};
    return label.empty() ? fallback : std::string(label);
}

static void readHwmon(const fs::path &dir, std::vector<Sensor> &out)
{
    const std::string chip = readLabel(dir / "name", dir.filename().string());
    for (const auto &file : sortedEntries(dir)) {
        const std::string name = file.filename().string();
        // temp<N>_input files carry the readings; temp<N>_label names them.
        if (!name.starts_with("temp") || !name.ends_with("_input")) continue;
        const std::string stem = name.substr(0, name.size() - std::string_view("_input").size());
        if (const auto celsius = readMillidegrees(file))
            out.push_back({readLabel(dir / (stem + "_label"), stem), chip, *celsius});
    }
}

std::vector<Sensor> readSensors(const fs::path &sysRoot)
{
    std::vector<Sensor> sensors;
    for (const auto &dir : sortedEntries(sysRoot / "class" / "hwmon"))
        readHwmon(dir, sensors);
    for (const auto &dir : sortedEntries(sysRoot / "class" / "thermal")) {
        const std::string zone = dir.filename().string();
        if (!zone.starts_with("thermal_zone")) continue;
        if (const auto celsius = readMillidegrees(dir / "temp"))
            sensors.push_back({readLabel(dir / "type", zone), zone, *celsius});
    }
    return sensors;
}

static bool isOneOf(std::string_view value, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), value) != names.end();
}

static void keepHottest(std::optional<double> &slot, double celsius)
{
    if (!slot || celsius > *slot) slot = celsius;
}

Temperatures summarize(const std::vector<Sensor> &sensors)
{
    Temperatures t;
    for (const auto &s : sensors) {
        // Processor sensors: hwmon drivers by chip, thermal zones by their type.
        if (isOneOf(s.chip, {"coretemp", "k10temp", "zenpower", "cpu_thermal", "cpu-thermal"}) ||
            isOneOf(s.name, {"x86_pkg_temp", "cpu_thermal", "cpu-thermal", "soc_thermal", "soc-thermal"}))
            keepHottest(t.cpu, s.celsius);
        if (isOneOf(s.chip, {"jc42", "spd5118"})) keepHottest(t.memory, s.celsius);
        if (!t.hottest || s.celsius > t.hottest->celsius) t.hottest = s;
    }
    return t;
}

std::optional<double> diskTemperature(const fs::path &sysRoot, unsigned major, unsigned minor)
{
    std::error_code ec;
    fs::path device =
        fs::canonical(sysRoot / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor)), ec);
    if (ec) return std::nullopt;
    // A partition's folder sits inside its disk's folder.
    if (fs::exists(device / "partition", ec)) device = device.parent_path();
    // NVMe: the namespace's "device" is the controller, which holds hwmon<N>.
    // drivetemp: the disk's "device" holds hwmon/hwmon<N>.
    for (const auto &entry : sortedEntries(device / "device")) {
        const std::string name = entry.filename().string();
        if (name == "hwmon") {
            for (const auto &inner : sortedEntries(entry))
                if (const auto celsius = readMillidegrees(inner / "temp1_input")) return celsius;
        } else if (name.starts_with("hwmon")) {
            if (const auto celsius = readMillidegrees(entry / "temp1_input")) return celsius;
        }
    }
    return std::nullopt;
}

} // namespace vantor::agent
