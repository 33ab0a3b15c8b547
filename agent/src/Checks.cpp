// SPDX-License-Identifier: MIT
#include "Checks.h"

#include "Services.h"

#include <sys/timex.h>

#include <algorithm>
#include <set>
#include <utility>

namespace vantor::agent {

std::optional<ClockState> kernelClock()
{
    struct timex t {
    }; // modes 0: read only, allowed without CAP_SYS_TIME
    const int state = adjtimex(&t);
    if (state < 0) return std::nullopt;
    return ClockState{state != TIME_ERROR && (t.status & STA_UNSYNC) == 0,
                      static_cast<double>(t.maxerror) / 1e6};
}

RebootState readRebootRequired(const std::filesystem::path &root)
{
    RebootState state;
    std::error_code ec;
    state.required = std::filesystem::exists(root / "run/reboot-required", ec);
    if (!state.required) return state;
    if (const auto text = readFile(root / "run/reboot-required.pkgs", 64u << 10)) {
        std::set<std::string_view> seen;
        for (const auto line : splitLines(*text)) {
            const auto name = trim(line);
            if (!name.empty() && seen.insert(name).second) state.packages.emplace_back(name);
        }
    }
    return state;
}

std::vector<std::string> parseUnitList(std::string_view text)
{
    std::set<std::string> units;
    for (const auto line : splitLines(text)) {
        auto words = splitWords(line);
        // A failed unit may be marked with a bullet, "●" or in the C locale "*".
        if (!words.empty() && (words[0] == "●" || words[0] == "*")) words.erase(words.begin());
        if (words.empty()) continue;
        const auto name = words[0];
        const auto dot = name.rfind('.');
        if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) continue; // not a unit name
        units.emplace(name);
    }
    return {units.begin(), units.end()};
}

UnitLister systemctlFailedUnits(std::string systemctl, std::chrono::milliseconds timeout)
{
    return [systemctl = std::move(systemctl), timeout]() -> std::optional<std::vector<std::string>> {
        int status = -1;
        const auto output = runProgram(
            {systemctl, "list-units", "--state=failed", "--plain", "--no-legend", "--no-pager", "--full"},
            timeout, &status);
        // Without the bus systemctl prints nothing and fails: that is no news, not "none failed".
        if (!output || status != 0) return std::nullopt;
        return parseUnitList(*output);
    };
}

std::optional<OomWatch::Episode> OomWatch::update(std::uint64_t counter, Clock::time_point now)
{
    // A counter that went back belongs to another boot (or another /proc): start from it again.
    if (m_previous && counter > *m_previous) {
        const std::uint64_t added = counter - *m_previous;
        if (m_episode && now - m_episode->last < hold)
            m_episode = Episode{m_episode->kills + added, now};
        else
            m_episode = Episode{added, now};
    }
    m_previous = counter;
    if (m_episode && now - m_episode->last >= hold) m_episode.reset();
    return m_episode;
}

} // namespace vantor::agent
