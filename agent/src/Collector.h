// SPDX-License-Identifier: MIT
#pragma once

#include "Alerts.h"
#include "Checks.h"
#include "Network.h"
#include "ProcParse.h"
#include "Sensors.h"
#include "Services.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace vantor::agent {

// Makes the reply body. Figures that need time between two looks (CPU usage) or may be slow to get
// (service states, temperatures) come from a background sampler, so a request never waits for them;
// everything else is read when the request comes.
class Collector
{
public:
    struct Options {
        std::filesystem::path procRoot = "/proc";
        std::filesystem::path sysRoot = "/sys";
        std::filesystem::path rootPath = "/";
        std::vector<std::string> services{};
        Thresholds thresholds{};
        std::chrono::milliseconds sampleInterval{5000};
        ServiceProbe probe{};
        InterfaceLister interfaces = systemInterfaceAddresses;
        CheckSwitches checks{};
        UnitLister failedUnits{}; // none: failed units are not asked for
        // Listing units costs systemd more than a state (and its fallback, systemctl, more than the rest
        // of a sample); a unit's failure can wait this long.
        std::chrono::milliseconds failedUnitsInterval{60000};
        ClockProbe clock = kernelClock;
        FileSystemProbe fileSystems = statFileSystem;
    };

    explicit Collector(Options options);
    ~Collector();
    Collector(const Collector &) = delete;
    Collector &operator=(const Collector &) = delete;

    // How long start() waits between the first CPU counters and the first sample.
    static constexpr std::chrono::milliseconds firstInterval{250};
    // Takes a first sample a short interval after it reads the CPU counters, so the first CPU figure is
    // the share of that interval, and starts the sampler.
    void start();
    // Takes new options from the next reading on and samples again at once. Alerts whose condition
    // still holds keep their identity.
    void reconfigure(Options options);
    // One sampler round; start() repeats it in the background, tests call it directly.
    void sample();

    // The reply document, or why none can be made (a required figure could not be read). `sensors`, when
    // given, receives every temperature sensor of the sample the reading was made from, and `facts` what
    // the checks found.
    std::variant<nlohmann::ordered_json, std::string>
    reading(Clock::time_point now, std::vector<Sensor> *sensors = nullptr, HealthFacts *facts = nullptr);

private:
    struct Setup {
        Options options;
        CpuInfo cpuInfo; // processor facts do not change while the system runs
        std::optional<std::pair<unsigned, unsigned>> rootDevice;
    };
    struct Sample {
        std::optional<CpuTimes> cpuTimes;
        std::optional<double> cpuUsage;
        std::vector<std::pair<std::string, std::string>> services; // unit, state
        std::vector<Sensor> sensors;
        std::optional<std::vector<FileSystemUse>> fileSystems;
        std::optional<std::vector<std::string>> failedUnits;
        std::optional<ClockState> clock;
        std::optional<RebootState> reboot;
    };

    static std::shared_ptr<const Setup> makeSetup(Options options);
    std::shared_ptr<const Setup> setup();

    static nlohmann::ordered_json hardware(const CpuInfo &cpu, const MemoryFigures &memory,
                                           const DiskFigures &disk, const Temperatures &temperatures,
                                           std::optional<double> diskCelsius);
    static nlohmann::ordered_json network(const Options &options);
    static std::optional<std::vector<FileSystemUse>> fileSystems(const Setup &setup);

    std::mutex m_mutex; // guards the members below
    std::shared_ptr<const Setup> m_setup;
    bool m_sampleNow = false;
    Sample m_sample;
    AlertTracker m_tracker;
    OomWatch m_oom;
    std::optional<std::chrono::steady_clock::time_point> m_unitsAsked;

    std::condition_variable_any m_wake;
    std::jthread m_thread;
};

} // namespace vantor::agent
