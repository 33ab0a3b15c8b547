// SPDX-License-Identifier: MIT
#include "Collector.h"

#include "Text.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <thread>

namespace vantor::agent {

using nlohmann::ordered_json;

std::shared_ptr<const Collector::Setup> Collector::makeSetup(Options options)
{
    auto made = std::make_shared<Setup>();
    made->options = std::move(options);
    if (const auto text = readFile(made->options.procRoot / "cpuinfo")) made->cpuInfo = parseCpuInfo(*text);
    struct stat root {
    };
    if (stat(made->options.rootPath.c_str(), &root) == 0)
        made->rootDevice = std::pair{major(root.st_dev), minor(root.st_dev)};
    return made;
}

Collector::Collector(Options options) : m_setup(makeSetup(std::move(options))) {}

Collector::~Collector() = default; // the jthread asks the sampler to stop and waits for it

std::shared_ptr<const Collector::Setup> Collector::setup()
{
    std::lock_guard lock(m_mutex);
    return m_setup;
}

void Collector::start()
{
    // The first CPU figure comes from a short first interval, not from the share since boot, which
    // says nothing of now.
    if (const auto text = readFile(setup()->options.procRoot / "stat")) {
        std::lock_guard lock(m_mutex);
        m_sample.cpuTimes = parseCpuTimes(*text);
    }
    std::this_thread::sleep_for(firstInterval);
    sample();
    m_thread = std::jthread([this](std::stop_token stop) {
        std::unique_lock lock(m_mutex);
        for (;;) {
            // Wakes early when a stop is requested or new options want a sample.
            m_wake.wait_for(lock, stop, m_setup->options.sampleInterval, [this] { return m_sampleNow; });
            if (stop.stop_requested()) return;
            m_sampleNow = false;
            lock.unlock();
            sample();
            lock.lock();
        }
    });
}

void Collector::reconfigure(Options options)
{
    auto made = makeSetup(std::move(options));
    std::lock_guard lock(m_mutex);
    m_setup = std::move(made);
    m_sampleNow = true;
    m_unitsAsked.reset(); // the program or the switch may have changed
    m_wake.notify_all();
}

void Collector::sample()
{
    const auto current = setup();
    const Options &options = current->options;
    std::optional<CpuTimes> times;
    if (const auto text = readFile(options.procRoot / "stat")) times = parseCpuTimes(*text);
    // The probe and the sensors are read outside the lock: they may take a while.
    std::vector<std::string> states = options.probe
                                          ? options.probe(options.services)
                                          : std::vector<std::string>(options.services.size(), "unknown");
    states.resize(options.services.size(), "unknown");
    std::vector<std::pair<std::string, std::string>> services;
    for (std::size_t i = 0; i < states.size(); ++i)
        services.emplace_back(options.services[i], std::move(states[i]));
    auto sensors = readSensors(options.sysRoot);
    const auto &checks = options.checks;
    auto fileSystems = Collector::fileSystems(*current);
    const auto clock = checks.clockSync && options.clock ? options.clock() : std::nullopt;
    const auto reboot =
        checks.rebootRequired ? std::optional(readRebootRequired(options.rootPath)) : std::nullopt;
    const auto steadyNow = std::chrono::steady_clock::now();
    bool askUnits = checks.failedUnits && options.failedUnits;
    {
        std::lock_guard lock(m_mutex);
        askUnits = askUnits && (!m_unitsAsked || steadyNow - *m_unitsAsked >= options.failedUnitsInterval);
    }
    const auto failedUnits = askUnits ? options.failedUnits() : std::nullopt;

    std::lock_guard lock(m_mutex);
    if (askUnits) {
        m_unitsAsked = steadyNow;
        m_sample.failedUnits = failedUnits;
    } else if (!checks.failedUnits) {
        m_sample.failedUnits.reset();
    }
    m_sample.fileSystems = std::move(fileSystems);
    m_sample.clock = clock;
    m_sample.reboot = reboot;
    if (times) {
        auto usage = cpuPercent(m_sample.cpuTimes.value_or(CpuTimes{}), *times);
        // Counters that have not moved (a frozen copy of /proc) leave the share since boot, if nothing else.
        if (!usage && !m_sample.cpuUsage) usage = cpuPercent(CpuTimes{}, *times);
        if (usage) m_sample.cpuUsage = usage;
        m_sample.cpuTimes = times;
    }
    m_sample.services = std::move(services);
    m_sample.sensors = std::move(sensors);
}

std::optional<std::vector<FileSystemUse>> Collector::fileSystems(const Setup &setup)
{
    const Options &options = setup.options;
    const auto text = readFile(options.procRoot / "self" / "mountinfo");
    if (!text) return std::nullopt;
    auto mounts = localFileSystems(parseMountInfo(*text), options.rootPath);
    // Switched off, the root alone is still watched for inodes.
    if (!options.checks.fileSystems)
        std::erase_if(mounts, [&](const MountEntry &m) {
            return setup.rootDevice != std::pair{m.major, m.minor};
        });
    return measureFileSystems(mounts, options.rootPath, setup.rootDevice, options.fileSystems);
}

std::variant<ordered_json, std::string> Collector::reading(Clock::time_point now,
                                                           std::vector<Sensor> *sensors, HealthFacts *facts)
{
    const auto current = setup();
    const Options &options = current->options;
    const auto &proc = options.procRoot;
    const auto meminfo = readFile(proc / "meminfo");
    const auto memory = meminfo ? parseMeminfo(*meminfo) : std::nullopt;
    if (!memory) return "cannot read MemTotal and MemAvailable from " + (proc / "meminfo").string();
    const auto uptimeText = readFile(proc / "uptime");
    const auto uptime = uptimeText ? parseFirstNumber(*uptimeText) : std::nullopt;
    if (!uptime) return "cannot read " + (proc / "uptime").string();
    const auto loadText = readFile(proc / "loadavg");
    const auto load = loadText ? parseFirstNumber(*loadText) : std::nullopt;
    if (!load) return "cannot read " + (proc / "loadavg").string();
    const auto fs = options.fileSystems ? options.fileSystems(options.rootPath.string()) : std::nullopt;
    if (!fs) return "cannot read the size of the file system at " + options.rootPath.string();
    const auto disk = diskFigures(fs->blocks, fs->freeBlocks, fs->availableBlocks, fs->fragmentSize);
    const auto &device = current->rootDevice;
    const auto diskCelsius =
        device ? diskTemperature(options.sysRoot, device->first, device->second) : std::nullopt;
    std::optional<std::uint64_t> oomKills;
    if (const auto vmstat = options.checks.oomKills ? readFile(proc / "vmstat") : std::nullopt)
        oomKills = parseVmstat(*vmstat, "oom_kill"); // kernels before 4.13 do not count them

    std::unique_lock lock(m_mutex);
    if (!m_sample.cpuUsage) return "cannot read the CPU counters from " + (proc / "stat").string();
    const Sample sample = m_sample;
    const auto temperatures = summarize(sample.sensors);

    const double swapTotal = memory->swapTotalBytes.value_or(0);
    Observation seen{*sample.cpuUsage, memory->usagePercent(), disk.usagePercent, sample.services,
                     temperatures.hottest};
    const Findings found{sample.fileSystems.value_or(std::vector<FileSystemUse>{}),
                         swapTotal > 0 ? std::optional(memory->swapUsedBytes() / swapTotal * 100)
                                       : std::nullopt,
                         sample.failedUnits.value_or(std::vector<std::string>{}),
                         oomKills ? m_oom.update(*oomKills, now) : std::nullopt,
                         sample.clock,
                         sample.reboot.value_or(RebootState{})};
    std::int64_t running = 0;
    for (const auto &[unit, state] : sample.services)
        running += state == "active" ? 1 : 0;
    const auto alerts = m_tracker.update(assess(seen, options.thresholds, found), now);
    lock.unlock();
    if (sensors) *sensors = sample.sensors;
    if (facts) {
        *facts = {sample.fileSystems, sample.failedUnits, oomKills,
                  sample.clock,       sample.reboot,      std::nullopt};
        if (memory->swapTotalBytes)
            facts->swap = SwapFigures{*memory->swapTotalBytes, memory->swapUsedBytes()};
    }

    ordered_json body;
    body["cpuUsage"] = seen.cpuUsage;
    body["memoryUsage"] = seen.memoryUsage;
    body["diskUsage"] = seen.diskUsage;
    body["uptimeSeconds"] = *uptime;
    body["loadAverage"] = *load;
    body["servicesRunning"] = running;
    body["servicesTotal"] = static_cast<std::int64_t>(sample.services.size());
    body["alerts"] = ordered_json::array();
    for (const auto &a : alerts)
        body["alerts"].push_back({{"id", a.id},
                                  {"severity", a.severity},
                                  {"title", a.title},
                                  {"detail", a.detail},
                                  {"createdAt", formatTimestamp(a.createdAt)}});
    body["observedAt"] = formatTimestamp(now);
    body["hardware"] = hardware(current->cpuInfo, *memory, disk, temperatures, diskCelsius);
    if (auto net = network(options); !net.empty()) body["network"] = std::move(net);
    return body;
}

ordered_json Collector::hardware(const CpuInfo &cpuInfo, const MemoryFigures &memory, const DiskFigures &disk,
                                 const Temperatures &temperatures, std::optional<double> diskCelsius)
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

ordered_json Collector::network(const Options &options)
{
    ordered_json net = ordered_json::object();
    if (const auto text = readFile(options.procRoot / "sys" / "kernel" / "hostname");
        text && !trim(*text).empty())
        net["hostname"] = std::string(trim(*text));
    const auto list = options.interfaces ? options.interfaces() : std::nullopt;
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
