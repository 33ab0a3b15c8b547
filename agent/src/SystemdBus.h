// SPDX-License-Identifier: MIT
#pragma once

#include "Checks.h"
#include "Services.h"

#include <chrono>

namespace vantor::agent {

// The questions the agent asks systemd, put over the system bus as systemctl itself puts them, but
// without starting a program for each: a unit's state is one small message, where a systemctl run
// costs some 17 ms of CPU. The connection is kept and opened again after it breaks. While systemd
// cannot be reached on the bus (no D-Bus daemon, or systemd not running), each question goes to the
// fallback instead. DBUS_SYSTEM_BUS_ADDRESS, when set, names the bus. Both share one connection.
struct SystemdQueries {
    ServiceProbe probe;
    UnitLister failedUnits;
};
SystemdQueries systemdBusQueries(ServiceProbe fallbackProbe, UnitLister fallbackLister,
                                 std::chrono::milliseconds timeout);

// The name systemd gives a unit that is named without its type, as systemctl does: "ssh" is
// "ssh.service".
std::string unitNameWithType(const std::string &name);

} // namespace vantor::agent
