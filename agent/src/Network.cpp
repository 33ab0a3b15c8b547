// SPDX-License-Identifier: MIT
#include "Network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace vantor::agent {

std::optional<std::vector<InterfaceAddress>> systemInterfaceAddresses()
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::vector<InterfaceAddress> out;
    for (const ifaddrs *it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || !(it->ifa_flags & IFF_UP)) continue;
        char text[INET6_ADDRSTRLEN] = {};
        const int family = it->ifa_addr->sa_family;
        if (family == AF_INET) {
            const auto *in = reinterpret_cast<const sockaddr_in *>(it->ifa_addr);
            inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        } else if (family == AF_INET6) {
            const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(it->ifa_addr);
            inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        } else {
            continue;
        }
        out.push_back({it->ifa_name ? it->ifa_name : "", text});
    }
    freeifaddrs(list);
    return out;
}

std::string addressScope(std::string_view address)
{
    const std::string text(address);
    std::array<std::uint8_t, 16> b{};
    if (inet_pton(AF_INET, text.c_str(), b.data()) == 1) {
        if (b[0] == 127) return "loopback";
        if (b[0] == 100 && (b[1] & 0xC0) == 64) return "tailscale";
        if (b[0] == 10 || (b[0] == 172 && (b[1] & 0xF0) == 16) || (b[0] == 192 && b[1] == 168)) return "lan";
        if (b[0] == 169 && b[1] == 254) return "link-local";
        return "public";
    }
    if (inet_pton(AF_INET6, text.c_str(), b.data()) == 1) {
        static constexpr std::array<std::uint8_t, 16> loopback{0, 0, 0, 0, 0, 0, 0, 0,
                                                               0, 0, 0, 0, 0, 0, 0, 1};
        if (b == loopback) return "loopback";
        if (b[0] == 0xfd && b[1] == 0x7a && b[2] == 0x11 && b[3] == 0x5c && b[4] == 0xa1 && b[5] == 0xe0)
            return "tailscale";
        if ((b[0] & 0xFE) == 0xFC) return "lan";
        if (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) return "link-local";
        // An IPv4 address carried in IPv6 (::ffff:a.b.c.d) keeps its own range.
        static constexpr std::array<std::uint8_t, 12> mapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (std::memcmp(b.data(), mapped.data(), mapped.size()) == 0) {
            char v4[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, b.data() + 12, v4, sizeof v4);
            return addressScope(v4);
        }
        return "public";
    }
    return "";
}

} // namespace vantor::agent
