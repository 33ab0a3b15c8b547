// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>

namespace vantor {

// The desktop session's bus where the session announces one: DBUS_SESSION_BUS_ADDRESS, or the
// standard socket $XDG_RUNTIME_DIR/bus. Otherwise a connection that is not connected: asking libdbus
// for "the" session bus would, with DISPLAY set, launch a bus daemon of its own that outlives the
// console and leaves files in the home folder.
QDBusConnection announcedSessionBus();

} // namespace vantor
