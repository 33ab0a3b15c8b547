// SPDX-License-Identifier: MIT
#include "Prometheus.h"

#include <charconv>
#include <cmath>
#include <set>
#include <utility>

namespace vantor::agent {

using nlohmann::ordered_json;

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8Length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = lead < 0x80                    ? 1
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    // Overlong forms, surrogates and code points above U+10FFFF.
    if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) ||
        (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) > 0x8F))
        return 0;
    return length;
}

std::string formatValue(double value)
{
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, value); // shortest form that reads back the same
    return std::string(text, result.ptr);
}

class Writer
{
public:
    void gauge(const char *name, const char *help, const char *type = "gauge")
    {
        m_text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void sample(const char *name, double value,
                const std::vector<std::pair<const char *, std::string>> &labels = {})
    {
        m_text += name;
        if (!labels.empty()) {
            m_text += '{';
            for (std::size_t i = 0; i < labels.size(); ++i)
                m_text += std::string(i ? "," : "") + labels[i].first + "=\"" +
                          escapeLabelValue(labels[i].second) + '"';
            m_text += '}';
        }
        m_text += ' ' + formatValue(value) + '\n';
    }
    // A figure of the reading under `path`, when the reading has it.
    void figure(const char *name, const char *help, const ordered_json &reading,
                const ordered_json::json_pointer &path, double scale = 1)
    {
        if (!reading.contains(path) || !reading.at(path).is_number()) return;
        gauge(name, help);
        sample(name, reading.at(path).get<double>() * scale);
    }
    std::string take() { return std::move(m_text); }

private:
    std::string m_text;
};

void fileSystemSeries(Writer &w, const std::vector<FileSystemUse> &fileSystems)
{
    // Mount points that differ only in bytes that are not UTF-8 would escape to one series.
    std::vector<const FileSystemUse *> shown;
    std::set<std::string> seen;
    for (const auto &fs : fileSystems)
        if (seen.insert(escapeLabelValue(fs.mountPoint)).second) shown.push_back(&fs);
    const auto each = [&](const char *name, const char *help, auto value) {
        w.gauge(name, help);
        for (const auto *fs : shown)
            if (const std::optional<double> v = value(*fs))
                w.sample(name, *v,
                         {{"mountpoint", fs->mountPoint}, {"fstype", fs->type}, {"device", fs->source}});
    };
    each("vantor_filesystem_size_bytes", "Size of each local file system, in bytes.",
         [](const FileSystemUse &fs) { return std::optional(fs.sizeBytes); });
    each("vantor_filesystem_avail_bytes",
         "Space on each local file system available to unprivileged users, in bytes.",
         [](const FileSystemUse &fs) { return std::optional(fs.availableBytes); });
    each("vantor_filesystem_usage_ratio",
         "Share of each local file system in use, counted as df does, from 0 to 1.",
         [](const FileSystemUse &fs) { return std::optional(fs.usagePercent / 100); });
    each("vantor_filesystem_inodes_usage_ratio",
         "Share of each local file system's inodes in use, from 0 to 1.", [](const FileSystemUse &fs) {
             return fs.inodesPercent ? std::optional(*fs.inodesPercent / 100) : std::nullopt;
         });
}

void healthSeries(Writer &w, const HealthFacts &facts)
{
    if (facts.fileSystems) fileSystemSeries(w, *facts.fileSystems);
    if (facts.swap) {
        w.gauge("vantor_swap_total_bytes", "Swap space, in bytes.");
        w.sample("vantor_swap_total_bytes", facts.swap->totalBytes);
        w.gauge("vantor_swap_used_bytes", "Swap space in use, in bytes.");
        w.sample("vantor_swap_used_bytes", facts.swap->usedBytes);
    }
    if (facts.failedUnits) {
        w.gauge("vantor_systemd_units_failed", "systemd units in the failed state.");
        w.sample("vantor_systemd_units_failed", static_cast<double>(facts.failedUnits->size()));
        w.gauge("vantor_systemd_unit_failed",
                "Each systemd unit in the failed state; the value is always 1.");
        for (const auto &unit : *facts.failedUnits)
            w.sample("vantor_systemd_unit_failed", 1, {{"unit", unit}});
    }
    if (facts.oomKills) {
        w.gauge("vantor_oom_kills_total", "Processes the kernel killed for lack of memory since boot.",
                "counter");
        w.sample("vantor_oom_kills_total", static_cast<double>(*facts.oomKills));
    }
    if (facts.clock) {
        w.gauge("vantor_clock_synchronized",
                "1 when the kernel reports its clock synchronised to a time source.");
        w.sample("vantor_clock_synchronized", facts.clock->synchronised ? 1 : 0);
        w.gauge("vantor_clock_max_error_seconds",
                "The kernel's estimate of the clock's maximum error, in seconds.");
        w.sample("vantor_clock_max_error_seconds", facts.clock->maxErrorSeconds);
    }
    if (facts.reboot) {
        w.gauge("vantor_reboot_required",
                "1 when an installed update asks for a reboot (/run/reboot-required).");
        w.sample("vantor_reboot_required", facts.reboot->required ? 1 : 0);
    }
}

} // namespace

std::string escapeLabelValue(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    while (!value.empty()) {
        const std::size_t length = utf8Length(value);
        if (length == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD
            value.remove_prefix(1);
            continue;
        }
        const char c = value[0];
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out.append(value.substr(0, length));
        value.remove_prefix(length);
    }
    return out;
}

std::string prometheusText(const ordered_json &reading, const std::vector<Sensor> &sensors,
                           std::string_view version, const HealthFacts &facts)
{
    using P = ordered_json::json_pointer;
    Writer w;
    w.figure("vantor_cpu_usage_ratio",
             "Share of CPU time spent busy over the last sample interval, from 0 to 1.", reading,
             P("/cpuUsage"), 0.01);
    w.figure("vantor_memory_usage_ratio", "Share of memory in use (total minus available), from 0 to 1.",
             reading, P("/memoryUsage"), 0.01);
    w.figure("vantor_disk_usage_ratio",
             "Share of the root file system in use, counted as df does, from 0 to 1.", reading,
             P("/diskUsage"), 0.01);
    w.figure("vantor_uptime_seconds", "Time since the machine booted, in seconds.", reading,
             P("/uptimeSeconds"));
    w.figure("vantor_load1", "One-minute load average.", reading, P("/loadAverage"));
    w.figure("vantor_services_running", "Watched systemd units that are active.", reading,
             P("/servicesRunning"));
    // Not "_total": that suffix marks a counter, and this one goes down as well as up.
    w.figure("vantor_services_watched", "Watched systemd units.", reading, P("/servicesTotal"));
    w.figure("vantor_memory_total_bytes", "Memory installed, in bytes.", reading,
             P("/hardware/memory/totalBytes"));
    w.figure("vantor_memory_available_bytes", "Memory available to programs, in bytes.", reading,
             P("/hardware/memory/availableBytes"));
    w.figure("vantor_memory_used_bytes", "Memory in use, in bytes.", reading,
             P("/hardware/memory/usedBytes"));
    w.figure("vantor_disk_total_bytes", "Size of the root file system, in bytes.", reading,
             P("/hardware/storage/root/totalBytes"));
    w.figure("vantor_disk_free_bytes",
             "Space on the root file system available to unprivileged users, in bytes.", reading,
             P("/hardware/storage/root/freeBytes"));
    w.figure("vantor_disk_used_bytes", "Space in use on the root file system, in bytes.", reading,
             P("/hardware/storage/root/usedBytes"));

    if (!sensors.empty()) {
        w.gauge("vantor_temperature_celsius", "Temperature of each hardware sensor, in degrees Celsius.");
        // Two sensors with the same chip and label (a machine with two processor packages) would make
        // one series twice, which spoils the whole scrape; the repeat gets a number. Labels are compared
        // as written: two that differ only in bytes that are not UTF-8 are written alike.
        std::set<std::pair<std::string, std::string>> seen;
        for (const auto &sensor : sensors) {
            std::string name = sensor.name;
            for (int n = 2; !seen.emplace(escapeLabelValue(sensor.chip), escapeLabelValue(name)).second; ++n)
                name = sensor.name + " #" + std::to_string(n);
            w.sample("vantor_temperature_celsius", sensor.celsius, {{"chip", sensor.chip}, {"sensor", name}});
        }
    }

    healthSeries(w, facts);

    w.gauge("vantor_alert", "An active alert, labelled with its severity and title.");
    std::set<std::pair<std::string, std::string>> alerts;
    if (reading.contains("alerts") && reading["alerts"].is_array())
        for (const auto &alert : reading["alerts"])
            if (alert.value("severity", "").size() &&
                alerts
                    .emplace(escapeLabelValue(alert.value("severity", "")),
                             escapeLabelValue(alert.value("title", "")))
                    .second)
                w.sample("vantor_alert", 1,
                         {{"severity", alert.value("severity", "")}, {"title", alert.value("title", "")}});

    w.gauge("vantor_agent_build_info", "The agent's version; the value is always 1.");
    w.sample("vantor_agent_build_info", 1, {{"version", std::string(version)}});
    return w.take();
}

} // namespace vantor::agent
