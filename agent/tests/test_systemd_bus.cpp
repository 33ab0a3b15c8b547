// SPDX-License-Identifier: MIT
// The questions to systemd, asked over a private D-Bus daemon where a stand-in for systemd answers.
#include "SystemdBus.h"
#include "TempTree.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <thread>

using namespace vantor::agent;
using namespace std::chrono_literals;

namespace {

std::string daemonProgram()
{
    for (const char *dir : {"/usr/bin", "/bin"})
        if (const auto path = std::string(dir) + "/dbus-daemon"; access(path.c_str(), X_OK) == 0) return path;
    return {};
}

// A D-Bus daemon of the test's own, listening on a socket in `dir`.
struct BusDaemon {
    pid_t pid = -1;
    std::string address;
    BusDaemon(const TempTree &tree, const std::string &name)
    {
        const auto socket = tree.root() / (name + ".socket");
        const auto config = tree.write(name + ".conf", R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><listen>unix:path=)" + socket.string() + R"(</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow receive_sender="*"/><allow own="*"/></policy></busconfig>)");
        const std::string program = daemonProgram(), option = "--config-file=" + config.string();
        if ((pid = fork()) == 0) {
            // As root it says it cannot raise its descriptor limit; nothing the test needs.
            freopen("/dev/null", "w", stderr);
            execl(program.c_str(), program.c_str(), option.c_str(), "--nofork", "--nopidfile", nullptr);
            _exit(127);
        }
        address = "unix:path=" + socket.string();
        for (int tries = 0; tries < 1000 && !std::filesystem::exists(socket); ++tries)
            std::this_thread::sleep_for(10ms);
    }
    ~BusDaemon() { stop(); }
    void stop()
    {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

// Answers as systemd does: a unit's ActiveState under /org/freedesktop/systemd1/unit (units it has
// not heard of are "inactive"; "denied.service" gets an error), and ListUnitsFiltered(["failed"]).
class FakeSystemd
{
public:
    std::map<std::string, std::string> states;
    std::vector<std::string> failed;

    void serve(const std::string &address)
    {
        std::promise<bool> ready;
        auto started = ready.get_future();
        m_thread = std::jthread([this, address, &ready](std::stop_token stop) { run(address, stop, ready); });
        ASSERT_TRUE(started.get()) << "the stand-in for systemd could not take its name on " << address;
    }

private:
    std::jthread m_thread;

    void run(const std::string &address, std::stop_token stop, std::promise<bool> &ready)
    {
        static const sd_bus_vtable unit[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_PROPERTY("ActiveState", "s", activeState, 0, 0),
            SD_BUS_VTABLE_END,
        };
        static const sd_bus_vtable manager[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("ListUnitsFiltered", "as", "a(ssssssouso)", listUnits, 0),
            SD_BUS_VTABLE_END,
        };
        sd_bus *bus = nullptr;
        const bool ok =
            sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address.c_str()) >= 0 &&
            sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
            sd_bus_add_fallback_vtable(bus, nullptr, "/org/freedesktop/systemd1/unit",
                                       "org.freedesktop.systemd1.Unit", unit, nullptr, this) >= 0 &&
            sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/systemd1",
                                     "org.freedesktop.systemd1.Manager", manager, this) >= 0 &&
            sd_bus_request_name(bus, "org.freedesktop.systemd1", 0) >= 0;
        ready.set_value(ok);
        while (ok && !stop.stop_requested())
            if (const int r = sd_bus_process(bus, nullptr); r == 0)
                sd_bus_wait(bus, 20'000);
            else if (r < 0)
                break; // the daemon went away
        sd_bus_flush_close_unref(bus);
    }

    static int activeState(sd_bus *, const char *path, const char *, const char *, sd_bus_message *reply,
                           void *self, sd_bus_error *error)
    {
        char *name = nullptr;
        if (sd_bus_path_decode(path, "/org/freedesktop/systemd1/unit", &name) <= 0) return -EINVAL;
        const std::string unit(name);
        std::free(name);
        if (unit == "denied.service") return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "denied");
        const auto &known = static_cast<FakeSystemd *>(self)->states;
        const auto found = known.find(unit);
        return sd_bus_message_append(reply, "s", found == known.end() ? "inactive" : found->second.c_str());
    }

    static int listUnits(sd_bus_message *call, void *self, sd_bus_error *)
    {
        char **filter = nullptr;
        if (sd_bus_message_read_strv(call, &filter) < 0) return -EINVAL;
        const bool onlyFailed = filter && filter[0] && std::string(filter[0]) == "failed" && !filter[1];
        for (char **s = filter; s && *s; ++s)
            std::free(*s);
        std::free(filter);
        sd_bus_message *reply = nullptr;
        sd_bus_message_new_method_return(call, &reply);
        sd_bus_message_open_container(reply, 'a', "(ssssssouso)");
        if (onlyFailed)
            for (const auto &unit : static_cast<FakeSystemd *>(self)->failed)
                sd_bus_message_append(reply, "(ssssssouso)", unit.c_str(), "A unit", "loaded", "failed",
                                      "failed", "", "/org/freedesktop/systemd1/unit/x", 0u, "", "/");
        sd_bus_message_close_container(reply);
        const int sent = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return sent;
    }
};

// The fallbacks say what asked them, so a test sees which path answered.
struct Fallbacks {
    int probes = 0, lists = 0;
    SystemdQueries queries()
    {
        return systemdBusQueries(
            [this](const std::vector<std::string> &units) {
                ++probes;
                return std::vector<std::string>(units.size(), "from systemctl");
            },
            [this] {
                ++lists;
                return std::optional<std::vector<std::string>>{{"from-systemctl.service"}};
            },
            5s);
    }
};

using Units = std::optional<std::vector<std::string>>;

} // namespace

TEST(SystemdBus, UnitNamesTakeTheServiceTypeWhenTheyHaveNone)
{
    for (const auto &[name, expected] : {std::pair{"ssh", "ssh.service"},
                                         {"ssh.service", "ssh.service"},
                                         {"getty@tty1.service", "getty@tty1.service"},
                                         {"home.mount", "home.mount"},
                                         {"db.v2", "db.v2.service"},
                                         {".service", ".service.service"}})
        EXPECT_EQ(unitNameWithType(name), expected) << name;
}

TEST(SystemdBus, AsksSystemdAndFallsBackOnlyWhenItCannotBeReached)
{
    if (daemonProgram().empty()) GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus)";
    TempTree tree;
    Fallbacks fallbacks;
    const std::vector<std::string> units{"web.service", "db", "getty@tty1.service", "gone.service",
                                         "denied.service"};
    const std::vector<std::string> expected{"active", "failed", "activating", "inactive", "unknown"};

    // No daemon at the address: every question goes to systemctl.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (tree.root() / "none").string()).c_str(), 1);
    auto queries = fallbacks.queries();
    EXPECT_EQ(queries.probe(units), std::vector<std::string>(units.size(), "from systemctl"));
    EXPECT_EQ(queries.failedUnits(), Units{{"from-systemctl.service"}});

    // A bus without systemd on it: the same.
    BusDaemon first(tree, "first");
    setenv("DBUS_SYSTEM_BUS_ADDRESS", first.address.c_str(), 1);
    EXPECT_EQ(queries.probe(units), std::vector<std::string>(units.size(), "from systemctl"));
    EXPECT_EQ(queries.failedUnits(), Units{{"from-systemctl.service"}});
    ASSERT_EQ(std::pair(fallbacks.probes, fallbacks.lists), std::pair(2, 2));

    {
        FakeSystemd systemd;
        systemd.states = {
            {"web.service", "active"}, {"db.service", "failed"}, {"getty@tty1.service", "activating"}};
        systemd.failed = {"z.service", "a.mount", "z.service"};
        systemd.serve(first.address);
        for (int round = 0; round < 2; ++round) { // the second on the kept connection
            EXPECT_EQ(queries.probe(units), expected);
            EXPECT_EQ(queries.failedUnits(), Units({"a.mount", "z.service"}));
        }
        EXPECT_EQ(queries.probe({}), std::vector<std::string>{});
        systemd.failed.clear();
        // An empty list is an answer, not a reason to ask systemctl.
        EXPECT_EQ(queries.failedUnits(), Units(std::vector<std::string>{}));
        EXPECT_EQ(std::pair(fallbacks.probes, fallbacks.lists), std::pair(2, 2));
    }

    // The bus goes away, then comes back at another address: the connection is made again.
    first.stop();
    EXPECT_EQ(queries.probe(units), std::vector<std::string>(units.size(), "from systemctl"));
    EXPECT_EQ(queries.failedUnits(), Units{{"from-systemctl.service"}});
    BusDaemon second(tree, "second");
    setenv("DBUS_SYSTEM_BUS_ADDRESS", second.address.c_str(), 1);
    FakeSystemd systemd;
    systemd.states = {
        {"web.service", "active"}, {"db.service", "failed"}, {"getty@tty1.service", "activating"}};
    systemd.serve(second.address);
    EXPECT_EQ(queries.probe(units), expected);
    EXPECT_EQ(std::pair(fallbacks.probes, fallbacks.lists), std::pair(3, 3));
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}
