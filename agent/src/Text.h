// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::agent {

using Clock = std::chrono::system_clock;

// The whole of a regular file, or nothing (with errno set) when it cannot be read, is not a regular file
// (EISDIR for a folder, EINVAL for a pipe or device) or is longer than `limit` (EFBIG). Files under
// /proc and /sys report a size of zero, so this reads until the end instead of trusting the size.
std::optional<std::string> readFile(const std::filesystem::path &path, std::size_t limit = 16u << 20);

std::string_view trim(std::string_view text);
std::vector<std::string_view> splitWords(std::string_view text);
std::vector<std::string_view> splitLines(std::string_view text);

// Whole-token numbers only: "12abc", "", a sign on an unsigned value or a value out of range give nothing.
std::optional<std::uint64_t> parseUnsigned(std::string_view text);
std::optional<std::int64_t> parseInteger(std::string_view text);
std::optional<double> parseDouble(std::string_view text);

// RFC 3339 in UTC to whole seconds, e.g. "2024-05-01T08:30:00Z".
std::string formatTimestamp(Clock::time_point when);

// A random (version 4) UUID in its 36-character text form.
std::string newUuid();

// printf-style formatting of one number, for alert texts.
std::string formatNumber(double value, int decimals);

} // namespace vantor::agent
