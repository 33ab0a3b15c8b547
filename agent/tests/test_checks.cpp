// SPDX-License-Identifier: MIT
// The checks beyond CPU, memory and the root disk, on made-up trees, fake probes and fake programs.

#include "Alerts.h"
#include "Checks.h"
#include "Collector.h"
#include "Config.h"
#include "Mounts.h"
#include "PromCheck.h"
#include "Prometheus.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <map>

using namespace vantor::agent;
using namespace std::chrono_literals;

namespace {

// id parent major:minor root mountpoint options - type source options
std::string mountLine(const std::string &device, const std::string &root, const std::string &where,
                      const std::string &type, const std::string &source)
{
    return "1 0 " + device + " " + root + " " + where + " rw,relatime shared:1 - " + type + " " + source +
           " rw\n";
}

std::string mountTable(const std::string &prefix)
{
    return mountLine("8:1", "/", prefix.empty() ? "/" : prefix, "ext4", "/dev/sda1") +
           mountLine("8:2", "/", prefix + "/home", "ext4", "/dev/sda2") +
           mountLine("253:0", "/", prefix + "/var", "xfs", "/dev/mapper/vg-var") +
           mountLine("0:25", "/", prefix + "/tmp", "tmpfs", "tmpfs") +
           mountLine("7:0", "/", prefix + "/snap/core/1", "squashfs", "/dev/loop0") +
           mountLine("0:22", "/", prefix + "/proc", "proc", "proc") +
           mountLine("0:50", "/", prefix + "/var/lib/docker/overlay2/x/merged", "overlay", "overlay") +
           mountLine("8:1", "/srv", prefix + "/srv", "ext4", "/dev/sda1") + // a bind mount of a folder of /
           mountLine("0:40", "/@data", prefix + "/data", "btrfs", "/dev/sdc") +
           mountLine("0:41", "/@logs", prefix + "/data/logs", "btrfs", "/dev/sdc") + // a second subvolume
           mountLine("8:17", "/", prefix + "/mnt/my\\040disk", "vfat", "/dev/sdb1") +
           mountLine("0:60", "/", prefix + "/mnt/nas", "nfs4", "nas:/export");
}

std::vector<std::string> mountPoints(const std::vector<MountEntry> &mounts)
{
    std::vector<std::string> out;
    for (const auto &m : mounts)
        out.push_back(m.mountPoint);
    return out;
}

std::vector<std::pair<std::string, std::string>> keys(const std::vector<Condition> &conditions)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto &c : conditions)
        out.emplace_back(c.key, c.severity);
    return out;
}

} // namespace

TEST(Mounts, LocalPersistentFileSystemsOnceEach)
{
    const auto all = parseMountInfo(mountTable("") + "garbage line\n");
    ASSERT_EQ(all.size(), 12u);
    // A btrfs subvolume's root is its own folder ("/@data"), so it counts after whole mounts.
    EXPECT_EQ(mountPoints(localFileSystems(all, "/")),
              (std::vector<std::string>{"/", "/home", "/var", "/mnt/my disk", "/data"}));
    // An agent in a container watching its host mounted at /host: only the host's, named as the host names
    // them.
    const auto host = parseMountInfo(mountLine("0:30", "/", "/", "overlay", "overlay") + mountTable("/host"));
    const auto kept = localFileSystems(host, "/host/");
    EXPECT_EQ(kept.size(), 5u);
    const auto measured = measureFileSystems(kept, "/host", std::pair{8u, 1u}, [](const std::string &path) {
        const unsigned minor = path == "/host" ? 1 : path == "/host/home" ? 2 : 99;
        return std::optional(FsStat{8, minor, 100, 10, 10, 4096, 10, 1});
    });
    ASSERT_EQ(measured.size(), 2u); // the others show another device at their mount point: hidden
    EXPECT_EQ(
        std::tuple(measured[0].mountPoint, measured[0].isRoot, measured[1].mountPoint, measured[1].isRoot),
        std::tuple("/", true, "/home", false));
}

TEST(Mounts, MeasuredAsDfCountsThem)
{
    const std::vector<MountEntry> mounts{{8, 1, "/", "/", "ext4", "/dev/sda1"},
                                         {8, 2, "/", "/home", "ext4", "/dev/sda2"},
                                         {8, 17, "/", "/boot/efi", "vfat", "/dev/sdb1"},
                                         {8, 3, "/", "/gone", "ext4", "/dev/sda3"}};
    const std::map<std::string, FsStat> stats{
        {"/", {8, 1, 1000, 300, 200, 4096, 1000, 50}},
        {"/home", {0, 99, 1000, 300, 200, 4096, 1000, 50}}, // ProtectHome= covered it: not measured
        {"/boot/efi", {8, 17, 100, 50, 50, 512, 0, 0}}};    // vfat has no inode table
    const auto measured = measureFileSystems(mounts, "/", std::pair{8u, 1u}, [&](const std::string &path) {
        const auto it = stats.find(path);
        return it == stats.end() ? std::nullopt : std::optional(it->second);
    });
    ASSERT_EQ(measured.size(), 2u);
    EXPECT_NEAR(measured[0].usagePercent, 700.0 / 900 * 100, 1e-9);
    EXPECT_EQ(std::tuple(measured[0].inodesPercent, measured[0].sizeBytes, measured[1].inodesPercent),
              std::tuple(std::optional(95.0), 4096000.0, std::optional<double>()));
}

TEST(Checks, FindingsRaiseTheRightAlerts)
{
    const auto fs = [](const char *where, double usage, std::optional<double> inodes, bool root = false) {
        return FileSystemUse{where, "/dev/x", "ext4", root, 0, 0, usage, inodes};
    };
    using Keys = std::vector<std::pair<std::string, std::string>>;
    const std::vector<std::string> seven{"a.service", "b.service", "c.mount",        "d.service",
                                         "e.timer",   "f.service", "watched.service"};
    const std::tuple<const char *, Findings, Keys> rows[] = {
        {"at each line nothing, just above it a warning",
         {{fs("/var", 85, 85), fs("/srv", 85.01, 85.01)}, 50, {}, {}, {}, {}},
         {{"filesystem:/srv", "warning"}, {"inodes:/srv", "warning"}}},
        {"at the critical line a warning, above it critical",
         {{fs("/var", 95, 95), fs("/srv", 95.01, 95.01)}, 80.01, {}, {}, {}, {}},
         {{"filesystem:/var", "warning"},
          {"inodes:/var", "warning"},
          {"filesystem:/srv", "critical"},
          {"inodes:/srv", "critical"},
          {"swap", "critical"}}},
        {"the root's usage is diskUsage's; its inodes count here",
         {{fs("/", 99, 96, true), fs("/boot/efi", 10, std::nullopt)}, 50.01, {}, {}, {}, {}},
         {{"inodes:/", "critical"}, {"swap", "warning"}}},
        {"five failed units each, the sixth counted; a watched one is alerted as a service",
         {{}, std::nullopt, seven, {}, {}, {}},
         {{"failed:a.service", "warning"},
          {"failed:b.service", "warning"},
          {"failed:c.mount", "warning"},
          {"failed:d.service", "warning"},
          {"failed:e.timer", "warning"},
          {"failed:more", "warning"}}},
        {"exactly five failed units: no count",
         {{}, std::nullopt, {seven.begin() + 1, seven.end()}, {}, {}, {}},
         {{"failed:b.service", "warning"},
          {"failed:c.mount", "warning"},
          {"failed:d.service", "warning"},
          {"failed:e.timer", "warning"},
          {"failed:f.service", "warning"}}},
        {"kills, an unsynchronised clock and a reboot",
         {{}, std::nullopt, {}, OomWatch::Episode{2, Clock::time_point{}}, ClockState{false, 16}, {true, {}}},
         {{"oom", "warning"}, {"clock", "warning"}, {"reboot", "warning"}}},
        {"a synchronised clock, no reboot", {{}, std::nullopt, {}, {}, ClockState{true, 0.1}, {}}, {}},
    };
    const Observation nothing{0, 0, 0, {{"watched.service", "failed"}}, std::nullopt};
    for (const auto &[name, findings, expected] : rows) {
        auto got = keys(assess(nothing, Thresholds{}, findings));
        got.erase(got.begin()); // the watched service's own alert
        EXPECT_EQ(got, expected) << name;
    }

    // The texts name the thing and the figure.
    const auto one = [&](const Findings &f) { return assess({}, Thresholds{}, f).at(0); };
    const auto var =
        one({{FileSystemUse{"/var", "/dev/sdb1", "xfs", false, 0, 0, 97.25, 10}}, {}, {}, {}, {}, {}});
    EXPECT_EQ(std::tuple(var.title, var.detail),
              std::tuple("磁盘空间严重不足：/var",
                         "文件系统 /var（/dev/sdb1，xfs）已使用 97.2%，超过严重阈值 95%。"));
    const auto more = assess({}, Thresholds{}, {{}, {}, seven, {}, {}, {}}).back();
    EXPECT_EQ(
        std::tuple(more.title, more.detail),
        std::tuple("另有 2 个 systemd 单元失败",
                   "处于 failed 状态的还有：f.service、watched.service（systemctl --failed 查看全部）。"));
    const auto reboot = one({{}, {}, {}, {}, {}, {true, {"linux-image-amd64", "libc6"}}});
    EXPECT_EQ(reboot.detail,
              "系统更新要求重启（/run/reboot-required），涉及软件包：linux-image-amd64、libc6。");
}

TEST(Checks, OomAlertHoldsAnHourAfterTheLastKill)
{
    OomWatch watch;
    const auto t0 = Clock::now();
    using Expected = std::optional<std::pair<std::uint64_t, std::chrono::minutes>>; // kills, last kill
    const std::tuple<std::uint64_t, std::chrono::seconds, Expected> steps[] = {
        {5, 0s, std::nullopt}, // kills from before the agent ran are not news
        {5, 10min, std::nullopt},
        {7, 20min, std::pair{2u, 20min}},
        {7, 79min + 59s, std::pair{2u, 20min}},
        {8, 70min, std::pair{3u, 70min}}, // a kill within the hour extends it
        {8, 129min + 59s, std::pair{3u, 70min}},
        {8, 130min, std::nullopt},
        {9, 150min, std::pair{1u, 150min}}, // a new episode
        {0, 160min, std::pair{1u, 150min}}, // a counter that went back is a new start, not a kill
        {0, 210min, std::nullopt},
    };
    for (const auto &[counter, at, expected] : steps) {
        const auto got = watch.update(counter, t0 + at);
        const Expected seen =
            got ? Expected(
                      std::pair{got->kills, std::chrono::duration_cast<std::chrono::minutes>(got->last - t0)})
                : std::nullopt;
        EXPECT_EQ(seen, expected) << "counter " << counter << " at " << at.count() << " s";
    }
}

TEST(Checks, RebootFlagAndFailedUnitsProgram)
{
    TempTree tree;
    EXPECT_FALSE(readRebootRequired(tree.root()).required);
    tree.write("run/reboot-required", "*** System restart required ***\n");
    EXPECT_EQ(readRebootRequired(tree.root()).packages, std::vector<std::string>{});
    tree.write("run/reboot-required.pkgs", "linux-image-amd64\nlibc6\n\nlinux-image-amd64\n");
    EXPECT_EQ(readRebootRequired(tree.root()).packages,
              (std::vector<std::string>{"linux-image-amd64", "libc6"}));

    using Units = std::optional<std::vector<std::string>>;
    const std::tuple<const char *, const char *, Units> programs[] = {
        {"listed",
         "[ \"$1 $2\" = 'list-units --state=failed' ] || exit 3\n"
         "printf 'z.service loaded failed failed Z\\n\\342\\227\\217 a.mount loaded failed failed A\\n"
         "* b.timer loaded failed failed B\\nnot-a-unit\\n'\n",
         Units{{"a.mount", "b.timer", "z.service"}}},
        {"none failed", "exit 0\n", Units(std::vector<std::string>{})},
        {"no bus", "echo 'x.service loaded failed failed'; exit 1\n", std::nullopt},
    };
    for (const auto &[name, body, expected] : programs) {
        const auto path = tree.write(name, std::string("#!/bin/sh\n") + body);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        EXPECT_EQ(systemctlFailedUnits(path.string(), 5s)(), expected) << name;
    }
}

// The checks wired into a reading and the Prometheus text, from a made-up /proc and fake probes.
TEST(Checks, ReadingAndPrometheusText)
{
    TempTree tree;
    const std::string root = tree.root().string();
    for (const auto &[file, text] :
         {std::pair{"proc/stat", "cpu 1 0 1 8\n"},
          {"proc/meminfo", "MemTotal: 1000 kB\nMemAvailable: 900 kB\nSwapTotal: 1000 kB\nSwapFree: 400 kB\n"},
          {"proc/uptime", "1 1\n"},
          {"proc/loadavg", "0.1 0 0\n"},
          {"proc/vmstat", "nr_free_pages 1\noom_kill 4\n"},
          {"run/reboot-required", ""}})
        tree.write(file, text);
    tree.write("proc/self/mountinfo", mountLine("8:2", "/", root + "/var", "ext4", "/dev/sda2"));
    Collector::Options options{
        .procRoot = tree.root() / "proc", .rootPath = tree.root(), .interfaces = nullptr};
    options.failedUnits = [] { return std::optional(std::vector<std::string>{"backup.service"}); };
    options.clock = [] { return std::optional(ClockState{false, 16}); };
    options.fileSystems = [](const std::string &) {
        return std::optional(FsStat{8, 2, 100, 2, 2, 4096, 100, 1});
    };
    Collector collector(options);
    collector.sample();
    const auto t0 = Clock::now();
    const auto alertTitles = [&](Clock::time_point now, HealthFacts *facts = nullptr) {
        const auto body = std::get<nlohmann::ordered_json>(collector.reading(now, nullptr, facts));
        std::vector<std::string> titles;
        for (const auto &a : body["alerts"])
            titles.push_back(a["title"]);
        return titles;
    };
    EXPECT_EQ(alertTitles(t0),
              (std::vector<std::string>{"磁盘空间严重不足", "磁盘空间严重不足：/var", "inode 即将耗尽：/var",
                                        "交换空间使用率偏高", "systemd 单元失败：backup.service",
                                        "系统时钟未同步", "需要重启"}));
    tree.write("proc/vmstat", "oom_kill 5\n");
    HealthFacts facts;
    EXPECT_EQ(alertTitles(t0 + 1min, &facts).at(5), "内存耗尽，进程被内核终止");
    EXPECT_EQ(alertTitles(t0 + 61min).size(), 7u); // an hour after the kill

    const auto parsed = checkExposition(prometheusText({}, {}, "1", facts));
    ASSERT_TRUE(parsed.error.empty()) << parsed.error;
    const std::string var = R"({mountpoint="/var",fstype="ext4",device="/dev/sda2"})";
    const std::map<std::string, double> expected{
        {"vantor_filesystem_size_bytes" + var, 409600},
        {"vantor_filesystem_avail_bytes" + var, 8192},
        {"vantor_filesystem_usage_ratio" + var, 0.98},
        {"vantor_filesystem_inodes_usage_ratio" + var, 0.99},
        {"vantor_swap_total_bytes", 1024000},
        {"vantor_swap_used_bytes", 614400},
        {"vantor_systemd_units_failed", 1},
        {R"(vantor_systemd_unit_failed{unit="backup.service"})", 1},
        {"vantor_oom_kills_total", 5},
        {"vantor_clock_synchronized", 0},
        {"vantor_clock_max_error_seconds", 16},
        {"vantor_reboot_required", 1},
        {R"(vantor_agent_build_info{version="1"})", 1},
    };
    EXPECT_EQ(parsed.samples, expected);

    // Switched off, a check neither alerts nor exposes; the root alone keeps its inode check.
    options.checks = {false, false, false, false, false};
    options.thresholds.swap = options.thresholds.disk = {101, 101};
    Collector quiet(options);
    quiet.sample();
    EXPECT_EQ(std::get<nlohmann::ordered_json>(quiet.reading(t0, nullptr, &facts))["alerts"].size(), 0u);
    EXPECT_FALSE(facts.failedUnits || facts.oomKills || facts.clock || facts.reboot);
    EXPECT_TRUE(facts.fileSystems &&
                facts.fileSystems->empty()); // this tree's root is not in its mount table
}

TEST(Config, ChecksAndTheirThresholds)
{
    const auto c = std::get<Config>(parseConfig(R"({"token": "t", "checks": {"clockSync": false,
        "failedUnits": false}, "thresholds": {"inodes": {"warning": 90, "critical": 99}, "swap": {"warning": 101,
        "critical": 101}}})"));
    EXPECT_EQ(std::tuple(c.checks, c.thresholds.inodes, c.thresholds.swap),
              std::tuple(CheckSwitches{.failedUnits = false, .clockSync = false}, Limits{90, 99},
                         Limits{101, 101}));
    const std::pair<const char *, const char *> refused[] = {
        {R"({"token": "t", "checks": {"oomKills": 1}})", "\"checks.oomKills\" must be true or false"},
        {R"({"token": "t", "checks": {"swap": false}})", "unknown key \"checks.swap\""},
        {R"({"token": "t", "checks": []})", "\"checks\" must be an object"},
        {R"({"token": "t", "thresholds": {"swap": {"warning": 90}}})",
         "\"thresholds.swap\" has a warning level"},
    };
    for (const auto &[text, expected] : refused) {
        const auto parsed = parseConfig(text);
        const auto *message = std::get_if<std::string>(&parsed);
        EXPECT_TRUE(message && message->find(expected) != std::string::npos)
            << text << " -> " << (message ? *message : "accepted");
    }
}
