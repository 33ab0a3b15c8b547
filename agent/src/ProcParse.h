// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Parsers for the kernel's text files. Each takes the file's text and gives nothing when the text does
// not hold what is needed, so a reading is never made up from a half-understood file.
namespace vantor::agent {

// The aggregate "cpu" line of /proc/stat: user, nice, system, idle, iowait, irq, softirq, steal, in
// clock ticks. Older kernels print fewer columns; the missing ones stay zero. guest and guest_nice are
// left out because the kernel already counts them in user and nice.
struct CpuTimes {
    std::array<std::uint64_t, 8> ticks{};

    bool operator==(const CpuTimes &) const = default;
};

std::optional<CpuTimes> parseCpuTimes(std::string_view procStat);

// Busy share of the ticks between two samples, in percent. Counters that went backwards (the kernel
// does this with iowait) count as no change. Nothing when no tick elapsed.
std::optional<double> cpuPercent(const CpuTimes &before, const CpuTimes &after);

struct MemoryFigures {
    double totalBytes = 0;
    double availableBytes = 0;

    // SwapTotal and SwapFree; both absent when the file lacks either.
    std::optional<double> swapTotalBytes;
    std::optional<double> swapFreeBytes;

    double usedBytes() const { return totalBytes > availableBytes ? totalBytes - availableBytes : 0; }
    double usagePercent() const { return usedBytes() / totalBytes * 100; }
    double swapUsedBytes() const
    {
        const double total = swapTotalBytes.value_or(0), free = swapFreeBytes.value_or(0);
        return total > free ? total - free : 0;
    }
};

// MemTotal and MemAvailable; kernels without MemAvailable get MemFree + Buffers + Cached + SReclaimable.
std::optional<MemoryFigures> parseMeminfo(std::string_view meminfo);

// One counter of /proc/vmstat ("oom_kill 3"); nothing when the kernel does not keep it.
std::optional<std::uint64_t> parseVmstat(std::string_view vmstat, std::string_view name);

// The first number of a line such as /proc/uptime or /proc/loadavg.
std::optional<double> parseFirstNumber(std::string_view text);

struct CpuInfo {
    std::optional<std::int64_t> cores;   // distinct (physical id, core id) pairs
    std::optional<std::int64_t> threads; // "processor" entries
    std::optional<std::string> model;
};

CpuInfo parseCpuInfo(std::string_view cpuinfo);

// The root file system as df counts it: used = blocks - free, and the percentage is taken of what an
// unprivileged user can reach (used + available), so reserved blocks do not hide a full disk.
struct DiskFigures {
    double totalBytes = 0;
    double freeBytes = 0; // available to unprivileged users
    double usedBytes = 0;
    double usagePercent = 0;
};

DiskFigures diskFigures(std::uint64_t blocks, std::uint64_t freeBlocks, std::uint64_t availableBlocks,
                        std::uint64_t fragmentSize);

} // namespace vantor::agent
