// SPDX-License-Identifier: MIT
#include "SystemdBus.h"

#include <systemd/sd-bus.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>

namespace vantor::agent {

namespace {

constexpr const char *systemd = "org.freedesktop.systemd1";

struct BusClose {
    void operator()(sd_bus *bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message *message) const { sd_bus_message_unref(message); }
};
struct Free {
    void operator()(char *text) const { std::free(text); }
};
struct BusError {
    sd_bus_error error{}; // SD_BUS_ERROR_NULL, which is a C compound literal
    ~BusError() { sd_bus_error_free(&error); }
};

// One connection to the system bus, for the sampler thread's questions.
class Connection
{
public:
    explicit Connection(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

    std::mutex mutex;

    // The open connection, or null when the bus cannot be reached now.
    sd_bus *bus()
    {
        if (m_bus && sd_bus_is_open(m_bus.get()) > 0) return m_bus.get();
        m_bus.reset();
        sd_bus *bus = nullptr;
        if (sd_bus_open_system(&bus) < 0) return nullptr;
        m_bus.reset(bus);
        sd_bus_set_method_call_timeout(bus, static_cast<std::uint64_t>(m_timeout.count()) * 1000);
        return bus;
    }

private:
    std::chrono::milliseconds m_timeout;
    std::unique_ptr<sd_bus, BusClose> m_bus;
};

// The unit's ActiveState ("active", "failed", ...), or nothing when the bus gave no answer. Asking for
// a unit systemd has not loaded loads it, so an unknown name is "inactive", as systemctl says.
std::optional<std::string> activeState(sd_bus *bus, const std::string &unit)
{
    char *path = nullptr;
    if (sd_bus_path_encode("/org/freedesktop/systemd1/unit", unit.c_str(), &path) < 0) return std::nullopt;
    const std::unique_ptr<char, Free> ownedPath(path);
    BusError error;
    char *state = nullptr;
    if (sd_bus_get_property_string(bus, systemd, path, "org.freedesktop.systemd1.Unit", "ActiveState",
                                   &error.error, &state) < 0)
        return std::nullopt;
    const std::unique_ptr<char, Free> ownedState(state);
    return std::string(state);
}

std::optional<std::vector<std::string>> failedUnits(sd_bus *bus)
{
    BusError error;
    sd_bus_message *reply = nullptr;
    if (sd_bus_call_method(bus, systemd, "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                           "ListUnitsFiltered", &error.error, &reply, "as", 1, "failed") < 0)
        return std::nullopt;
    const std::unique_ptr<sd_bus_message, MessageUnref> owned(reply);
    if (sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssssouso)") < 0) return std::nullopt;
    std::set<std::string> units;
    // Name, description, load, active and sub state, followed unit, path, job id, type and path.
    const char *name = nullptr, *unused[8] = {};
    std::uint32_t job = 0;
    int read = 0;
    while ((read = sd_bus_message_read(reply, "(ssssssouso)", &name, &unused[0], &unused[1], &unused[2],
                                       &unused[3], &unused[4], &unused[5], &job, &unused[6], &unused[7])) > 0)
        units.emplace(name);
    if (read < 0) return std::nullopt;
    return std::vector<std::string>(units.begin(), units.end());
}

} // namespace

std::string unitNameWithType(const std::string &name)
{
    static constexpr std::array<std::string_view, 11> types{".service", ".socket",    ".target", ".device",
                                                            ".mount",   ".automount", ".swap",   ".timer",
                                                            ".path",    ".slice",     ".scope"};
    for (std::string_view type : types)
        if (name.size() > type.size() && name.ends_with(type)) return name;
    return name + ".service";
}

SystemdQueries systemdBusQueries(ServiceProbe fallbackProbe, UnitLister fallbackLister,
                                 std::chrono::milliseconds timeout)
{
    auto connection = std::make_shared<Connection>(timeout);
    ServiceProbe probe = [connection,
                          fallbackProbe = std::move(fallbackProbe)](const std::vector<std::string> &units) {
        std::vector<std::string> states(units.size(), "unknown");
        if (units.empty()) return states;
        bool answered = false;
        {
            std::lock_guard lock(connection->mutex);
            if (sd_bus *bus = connection->bus())
                for (std::size_t i = 0; i < units.size(); ++i)
                    if (auto state = activeState(bus, unitNameWithType(units[i]))) {
                        states[i] = std::move(*state);
                        answered = true;
                    }
        }
        // Not one answer: systemd is not on this bus, or there is no bus.
        if (!answered && fallbackProbe) return fallbackProbe(units);
        return states;
    };
    UnitLister lister = [connection, fallbackLister = std::move(fallbackLister)] {
        std::optional<std::vector<std::string>> units;
        {
            std::lock_guard lock(connection->mutex);
            if (sd_bus *bus = connection->bus()) units = failedUnits(bus);
        }
        if (!units && fallbackLister) return fallbackLister();
        return units;
    };
    return {std::move(probe), std::move(lister)};
}

} // namespace vantor::agent
