// SPDX-License-Identifier: MIT
#include "Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>

namespace vantor::agent {

std::optional<std::string> readFile(const std::filesystem::path &path, std::size_t limit)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, and a worker with it.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> text;
    struct stat info {
    };
    if (fstat(fd, &info) != 0) {
        // errno tells why
    } else if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        // Pipes, sockets and devices may never end or may block; the kernel's files are all regular.
        errno = EINVAL;
    } else {
        std::string data;
        char buffer[8192];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            if (n == 0) {
                text = std::move(data);
                break;
            }
            if (data.size() + static_cast<std::size_t>(n) > limit) {
                errno = EFBIG;
                break;
            }
            data.append(buffer, static_cast<std::size_t>(n));
        }
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    return text;
}

std::string_view trim(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

static std::vector<std::string_view> split(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto start = text.find_first_not_of(separators, pos);
        if (start == std::string_view::npos) break;
        auto end = text.find_first_of(separators, start);
        if (end == std::string_view::npos) end = text.size();
        parts.push_back(text.substr(start, end - start));
        pos = end;
    }
    return parts;
}

std::vector<std::string_view> splitWords(std::string_view text)
{
    return split(text, " \t\r\n");
}

std::vector<std::string_view> splitLines(std::string_view text)
{
    return split(text, "\n");
}

template<typename T> static std::optional<T> parseWhole(std::string_view text)
{
    T value{};
    const auto *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text)
{
    return parseWhole<std::uint64_t>(text);
}

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    return parseWhole<std::int64_t>(text);
}

std::optional<double> parseDouble(std::string_view text)
{
    const auto value = parseWhole<double>(text);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

std::string formatTimestamp(Clock::time_point when)
{
    const std::time_t seconds = Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(when));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string newUuid()
{
    // One generator per thread, seeded from the kernel's random source.
    thread_local std::mt19937_64 generator{[] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }()};
    std::uint64_t high = generator();
    std::uint64_t low = generator();
    high = (high & ~0xF000ull) | 0x4000ull;                      // version 4
    low = (low & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull; // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", unsigned(high >> 32),
                  unsigned((high >> 16) & 0xFFFF), unsigned(high & 0xFFFF), unsigned(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

std::string formatNumber(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace vantor::agent
