#include "Collector.h"

#include "Text.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace vantor::agent {

using nlohmann::ordered_json;

Collector::Collector(Options options) : m_options(std::move(options))
{
    // Processor facts do not change while the system runs.
    if (const auto text = readFile(m_options.procRoot / "cpuinfo")) m_cpuInfo = parseCpuInfo(*text);
    struct stat root {
    };
    if (stat(m_options.rootPath.c_str(), &root) == 0)
        m_rootDevice = std::pair{major(root.st_dev), minor(root.st_dev)};
}

Collector::~Collector() = default; // the jthread asks the sampler to stop and waits for it

void Collector::start()
{
    sample();
    m_thread = std::jthread([this](std::stop_token stop) {
        std::mutex sleepMutex;
        std::unique_lock lock(sleepMutex);
        for (;;) {
            // Wakes early only when a stop is requested.
            m_wake.wait_for(lock, stop, m_options.sampleInterval, [] { return false; });
            if (stop.stop_requested()) return;
            sample();
        }
    });
}

void Collector::sample()
{
    std::optional<CpuTimes> times;
    if (const auto text = readFile(m_options.procRoot / "stat")) times = parseCpuTimes(*text);
    // The probe and the sensors are read outside the lock: they may take a while.
    std::vector<std::string> states = m_options.probe
                                          ? m_options.probe(m_options.services)
                                          : std::vector<std::string>(m_options.services.size(), "unknown");
    states.resize(m_options.services.size(), "unknown");
    auto sensors = readSensors(m_options.sysRoot);

    std::lock_guard lock(m_mutex);
    if (times) {
        // The first sample has nothing before it: the share since boot stands in until the next one.
        const auto usage = cpuPercent(m_sample.cpuTimes.value_or(CpuTimes{}), *times);
        if (usage) m_sample.cpuUsage = usage;
        m_sample.cpuTimes = times;
    }
    m_sample.serviceStates = std::move(states);
    m_sample.sensors = std::move(sensors);
}

std::variant<ordered_json, std::string> Collector::reading(Clock::time_point now)
{
    const auto &proc = m_options.procRoot;
    const auto meminfo = readFile(proc / "meminfo");
    const auto memory = meminfo ? parseMeminfo(*meminfo) : std::nullopt;
    if (!memory) return "cannot read MemTotal and MemAvailable from " + (proc / "meminfo").string();
    const auto uptimeText = readFile(proc / "uptime");
    const auto uptime = uptimeText ? parseFirstNumber(*uptimeText) : std::nullopt;
    if (!uptime) return "cannot read " + (proc / "uptime").string();
    const auto loadText = readFile(proc / "loadavg");
    const auto load = loadText ? parseFirstNumber(*loadText) : std::nullopt;
    if (!load) return "cannot read " + (proc / "loadavg").string();
    struct statvfs fs {
    };
    if (statvfs(m_options.rootPath.c_str(), &fs) != 0)
        return "cannot read the size of the file system at " + m_options.rootPath.string();
    const auto disk = diskFigures(fs.f_blocks, fs.f_bfree, fs.f_bavail, fs.f_frsize);
    const auto diskCelsius =
        m_rootDevice ? diskTemperature(m_options.sysRoot, m_rootDevice->first, m_rootDevice->second)
                     : std::nullopt;

    std::unique_lock lock(m_mutex);
    if (!m_sample.cpuUsage) return "cannot read the CPU counters from " + (proc / "stat").string();
    const Sample sample = m_sample;
    const auto temperatures = summarize(sample.sensors);

    Observation seen{*sample.cpuUsage, memory->usagePercent(), disk.usagePercent, {}, temperatures.hottest};
    std::int64_t running = 0;
    for (std::size_t i = 0; i < m_options.services.size(); ++i) {
        seen.services.emplace_back(m_options.services[i], sample.serviceStates[i]);
        running += sample.serviceStates[i] == "active" ? 1 : 0;
    }
    const auto alerts = m_tracker.update(assess(seen, m_options.thresholds), now);
    lock.unlock();

    ordered_json body;
    body["cpuUsage"] = seen.cpuUsage;
    body["memoryUsage"] = seen.memoryUsage;
    body["diskUsage"] = seen.diskUsage;
    body["uptimeSeconds"] = *uptime;
    body["loadAverage"] = *load;
    body["servicesRunning"] = running;
    body["servicesTotal"] = static_cast<std::int64_t>(m_options.services.size());
    body["alerts"] = ordered_json::array();
    for (const auto &a : alerts)
        body["alerts"].push_back({{"id", a.id},
                                  {"severity", a.severity},
                                  {"title", a.title},
                                  {"detail", a.detail},
                                  {"createdAt", formatTimestamp(a.createdAt)}});
    body["observedAt"] = formatTimestamp(now);
    body["hardware"] = hardware(m_cpuInfo, *memory, disk, temperatures, diskCelsius);
    if (auto net = network(); !net.empty()) body["network"] = std::move(net);
    return body;
}

ordered_json Collector::hardware(const CpuInfo &cpuInfo, const MemoryFigures &memory, const DiskFigures &disk,
                                 const Temperatures &temperatures, std::optional<double> diskCelsius) const
{
    ordered_json cpu = ordered_json::object();
    if (cpuInfo.cores) cpu["cores"] = *cpuInfo.cores;
    if (cpuInfo.threads) cpu["threads"] = *cpuInfo.threads;
    if (cpuInfo.model) cpu["model"] = *cpuInfo.model;
    if (temperatures.cpu) cpu["temperatureC"] = *temperatures.cpu;

    ordered_json mem{{"totalBytes", memory.totalBytes},
                     {"availableBytes", memory.availableBytes},
                     {"usedBytes", memory.usedBytes()}};
    if (temperatures.memory) mem["temperatureC"] = *temperatures.memory;

    ordered_json root{
        {"totalBytes", disk.totalBytes}, {"freeBytes", disk.freeBytes}, {"usedBytes", disk.usedBytes}};
    if (diskCelsius) root["temperatureC"] = *diskCelsius;

    ordered_json h;
    if (!cpu.empty()) h["cpu"] = std::move(cpu);
    h["memory"] = std::move(mem);
    h["storage"] = {{"root", std::move(root)}};
    if (temperatures.hottest) {
        h["hottestTemperatureC"] = temperatures.hottest->celsius;
        h["hottestSensor"] = {{"name", temperatures.hottest->name},
                              {"chip", temperatures.hottest->chip},
                              {"temperatureC", temperatures.hottest->celsius}};
    }
    return h;
}

ordered_json Collector::network() const
{
    ordered_json net = ordered_json::object();
    if (const auto text = readFile(m_options.procRoot / "sys" / "kernel" / "hostname");
        text && !trim(*text).empty())
        net["hostname"] = std::string(trim(*text));
    const auto list = m_options.interfaces ? m_options.interfaces() : std::nullopt;
    if (!list) return net;
    ordered_json addresses = ordered_json::array(), lan = ordered_json::array(),
                 tailscale = ordered_json::array();
    for (const auto &entry : *list) {
        const std::string scope = addressScope(entry.address);
        if (scope.empty() || scope == "loopback") continue;
        addresses.push_back(
            {{"address", entry.address}, {"scope", scope}, {"interface", entry.interfaceName}});
        if (scope == "lan")
            lan.push_back(entry.address);
        else if (scope == "tailscale")
            tailscale.push_back(entry.address);
    }
    net["addresses"] = std::move(addresses);
    net["lan"] = std::move(lan);
    net["tailscale"] = std::move(tailscale);
    return net;
}

} // namespace vantor::agent
