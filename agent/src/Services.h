// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantor::agent {

// Gives one state word per unit, in the units' order ("active", "inactive", "failed", ...). A probe that
// cannot learn a unit's state says "unknown" for it.
using ServiceProbe = std::function<std::vector<std::string>(const std::vector<std::string> &units)>;

// Asks `<systemctl> is-active -- <units...>`, which prints one state per line. The program is run
// directly (no shell) with a bare environment and is killed when it takes longer than `timeout`.
ServiceProbe systemctlProbe(std::string systemctl, std::chrono::milliseconds timeout);

// Runs a program without a shell and returns what it printed on standard output, or nothing when it
// could not be started or ran out of time. `exitStatus`, when given, receives the program's exit
// status (-1 when a signal ended it).
std::optional<std::string> runProgram(const std::vector<std::string> &argv, std::chrono::milliseconds timeout,
                                      int *exitStatus = nullptr);

} // namespace vantor::agent
