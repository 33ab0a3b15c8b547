// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::agent {

struct InterfaceAddress {
    std::string interfaceName;
    std::string address; // numeric text, without a zone suffix
};

// Every IPv4 and IPv6 address of the interfaces that are up, loopback included; nothing when the
// system cannot list them.
using InterfaceLister = std::function<std::optional<std::vector<InterfaceAddress>>()>;
std::optional<std::vector<InterfaceAddress>> systemInterfaceAddresses();

// What kind of network an address belongs to, told by its range:
// "tailscale" (100.64.0.0/10 and fd7a:115c:a1e0::/48), "lan" (10/8, 172.16/12, 192.168/16, fc00::/7),
// "link-local" (169.254/16, fe80::/10), "loopback", "public"; "" for text that is no address.
std::string addressScope(std::string_view address);

} // namespace vantor::agent
