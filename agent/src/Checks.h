// SPDX-License-Identifier: MIT
#pragma once

#include "Mounts.h"
#include "Text.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The checks for what most often takes a small server down besides CPU, memory and the root disk:
// other file systems filling up, units that failed, the kernel killing for memory, a clock adrift and
// a pending reboot. Each reads through a seam (a root folder, a program, a probe) that tests replace.
namespace vantor::agent {

// Which checks run. Swap and inodes are switched off by their thresholds instead.
struct CheckSwitches {
    bool fileSystems = true;
    bool failedUnits = true;
    bool oomKills = true;
    bool clockSync = true;
    bool rebootRequired = true;

    bool operator==(const CheckSwitches &) const = default;
};

// The kernel's view of its clock discipline (adjtimex).
struct ClockState {
    bool synchronised = true;
    double maxErrorSeconds = 0;
};

using ClockProbe = std::function<std::optional<ClockState>()>;

// adjtimex with no mode bits set only reads; nothing when the call is refused.
std::optional<ClockState> kernelClock();

struct RebootState {
    bool required = false;
    std::vector<std::string> packages; // from reboot-required.pkgs, each once, in the file's order
};

// /run/reboot-required under `root`, which Debian's and Ubuntu's package scripts create.
RebootState readRebootRequired(const std::filesystem::path &root);

// The names of the units systemd holds in the failed state, or nothing when it cannot be asked.
using UnitLister = std::function<std::optional<std::vector<std::string>>()>;

// Asks `<systemctl> list-units --state=failed`, run as the service probe runs its program.
UnitLister systemctlFailedUnits(std::string systemctl, std::chrono::milliseconds timeout);

// The unit names of list-units' plain output, sorted, each once.
std::vector<std::string> parseUnitList(std::string_view text);

// Turns the kernel's count of out-of-memory kills into an episode that lasts `hold` past the last kill.
// The first count seen is the starting point: kills from before the agent ran are not news.
class OomWatch
{
public:
    static constexpr std::chrono::hours hold{1};

    struct Episode {
        std::uint64_t kills = 0; // since the episode began
        Clock::time_point last;  // when the latest kill was noticed

        bool operator==(const Episode &) const = default;
    };

    std::optional<Episode> update(std::uint64_t counter, Clock::time_point now);

private:
    std::optional<std::uint64_t> m_previous;
    std::optional<Episode> m_episode;
};

struct SwapFigures {
    double totalBytes = 0;
    double usedBytes = 0;
};

// The facts behind the checks, for the Prometheus text; absent where a check is off or could not read.
struct HealthFacts {
    std::optional<std::vector<FileSystemUse>> fileSystems;
    std::optional<std::vector<std::string>> failedUnits;
    std::optional<std::uint64_t> oomKills; // the kernel's counter since boot
    std::optional<ClockState> clock;
    std::optional<RebootState> reboot;
    std::optional<SwapFigures> swap;
};

} // namespace vantor::agent
