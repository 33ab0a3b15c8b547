// SPDX-License-Identifier: MIT
#include "ProcParse.h"

#include "Text.h"

#include <set>
#include <utility>

namespace vantor::agent {

std::optional<CpuTimes> parseCpuTimes(std::string_view procStat)
{
    for (const auto line : splitLines(procStat)) {
        const auto words = splitWords(line);
        if (words.empty() || words[0] != "cpu") continue;
        // user, nice, system and idle are the least any kernel prints.
        if (words.size() < 5) return std::nullopt;
        CpuTimes times;
        for (std::size_t i = 0; i < times.ticks.size() && i + 1 < words.size(); ++i) {
            const auto value = parseUnsigned(words[i + 1]);
            if (!value) return std::nullopt;
            times.ticks[i] = *value;
        }
        return times;
    }
    return std::nullopt;
}

std::optional<double> cpuPercent(const CpuTimes &before, const CpuTimes &after)
{
    constexpr std::size_t idle = 3, iowait = 4;
    // Each delta fits a double well enough; summing doubles cannot overflow as 64-bit sums could.
    double total = 0, waiting = 0;
    for (std::size_t i = 0; i < after.ticks.size(); ++i) {
        const double delta =
            after.ticks[i] > before.ticks[i] ? static_cast<double>(after.ticks[i] - before.ticks[i]) : 0.0;
        total += delta;
        if (i == idle || i == iowait) waiting += delta;
    }
    if (total <= 0) return std::nullopt;
    return (total - waiting) / total * 100;
}

std::optional<MemoryFigures> parseMeminfo(std::string_view meminfo)
{
    std::optional<double> total, available, freeMem, buffers, cached, reclaimable, swapTotal, swapFree;
    for (const auto line : splitLines(meminfo)) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const auto key = line.substr(0, colon);
        const auto words = splitWords(line.substr(colon + 1));
        if (words.empty()) continue;
        const auto value = parseUnsigned(words[0]);
        if (!value) continue;
        // Sizes are printed in kB (kibibytes) whatever the unit says.
        const double bytes = static_cast<double>(*value) * 1024.0;
        if (key == "MemTotal")
            total = bytes;
        else if (key == "MemAvailable")
            available = bytes;
        else if (key == "MemFree")
            freeMem = bytes;
        else if (key == "Buffers")
            buffers = bytes;
        else if (key == "Cached")
            cached = bytes;
        else if (key == "SReclaimable")
            reclaimable = bytes;
        else if (key == "SwapTotal")
            swapTotal = bytes;
        else if (key == "SwapFree")
            swapFree = bytes;
    }
    if (!total || *total <= 0) return std::nullopt;
    if (!available) {
        if (!freeMem) return std::nullopt;
        available = *freeMem + buffers.value_or(0) + cached.value_or(0) + reclaimable.value_or(0);
    }
    const bool swap = swapTotal && swapFree;
    return MemoryFigures{*total, *available, swap ? swapTotal : std::nullopt, swap ? swapFree : std::nullopt};
}

std::optional<std::uint64_t> parseVmstat(std::string_view vmstat, std::string_view name)
{
    for (const auto line : splitLines(vmstat)) {
        const auto words = splitWords(line);
        if (words.size() == 2 && words[0] == name) return parseUnsigned(words[1]);
    }
    return std::nullopt;
}

std::optional<double> parseFirstNumber(std::string_view text)
{
    const auto words = splitWords(text);
    if (words.empty()) return std::nullopt;
    return parseDouble(words[0]);
}

CpuInfo parseCpuInfo(std::string_view cpuinfo)
{
    CpuInfo info;
    std::int64_t processors = 0;
    std::string physicalId;
    std::set<std::pair<std::string, std::string>> cores;
    std::optional<std::string> modelName, boardModel, hardware;
    for (const auto line : splitLines(cpuinfo)) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const auto key = trim(line.substr(0, colon));
        const std::string value{trim(line.substr(colon + 1))};
        if (key == "processor") {
            ++processors;
            physicalId.clear();
        } else if (key == "physical id") {
            physicalId = value;
        } else if (key == "core id") {
            cores.emplace(physicalId, value);
        } else if (key == "model name" && !modelName && !value.empty()) {
            modelName = value;
        } else if (key == "Model" && !boardModel && !value.empty()) {
            boardModel = value; // Raspberry Pi and other ARM boards
        } else if (key == "Hardware" && !hardware && !value.empty()) {
            hardware = value;
        }
    }
    if (processors > 0) info.threads = processors;
    if (!cores.empty()) info.cores = static_cast<std::int64_t>(cores.size());
    info.model = modelName ? modelName : boardModel ? boardModel : hardware;
    return info;
}

DiskFigures diskFigures(std::uint64_t blocks, std::uint64_t freeBlocks, std::uint64_t availableBlocks,
                        std::uint64_t fragmentSize)
{
    const double size = static_cast<double>(fragmentSize);
    DiskFigures d;
    d.totalBytes = static_cast<double>(blocks) * size;
    d.freeBytes = static_cast<double>(availableBlocks) * size;
    d.usedBytes = blocks > freeBlocks ? static_cast<double>(blocks - freeBlocks) * size : 0.0;
    const double reachable = d.usedBytes + d.freeBytes;
    d.usagePercent = reachable > 0 ? d.usedBytes / reachable * 100 : 0.0;
    return d;
}

} // namespace vantor::agent
