// SPDX-License-Identifier: MIT
// Parsers of the kernel's files, sensors, address ranges and the assembled reading, on fixture texts.

#include "Collector.h"
#include "Network.h"
#include "ProcParse.h"
#include "PromCheck.h"
#include "Prometheus.h"
#include "Sensors.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>

using namespace vantor::agent;

TEST(ProcStat, CpuLine)
{
    const std::pair<const char *, std::optional<CpuTimes>> cases[] = {
        {"cpu  10 2 3 40 5 6 7 8 9 10\ncpu0 1 1 1 1 1 1 1 1 1 1\nintr 1\n",
         CpuTimes{{10, 2, 3, 40, 5, 6, 7, 8}}},
        {"cpu 1 2 3 4\n", CpuTimes{{1, 2, 3, 4, 0, 0, 0, 0}}},
        {"cpu 18446744073709551615 0 0 1\n", CpuTimes{{18446744073709551615ull, 0, 0, 1, 0, 0, 0, 0}}},
        {"cpu 1 2 3\n", std::nullopt},
        {"cpu 18446744073709551616 0 0 1\n", std::nullopt}, // past 64 bits
        {"cpu 1 2 x 4\n", std::nullopt},
        {"cpu0 1 2 3 4\ncpu1 1 2 3 4\n", std::nullopt}, // per-CPU lines only
        {"", std::nullopt}};
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(parseCpuTimes(text), expected) << text;
}

TEST(CpuPercent, DeltasBetweenSamples)
{
    const CpuTimes before{{100, 0, 100, 700, 100, 0, 0, 0}};
    // 400 ticks passed: 100 user, 100 system, 150 idle, 50 iowait -> half busy.
    EXPECT_DOUBLE_EQ(*cpuPercent(before, CpuTimes{{200, 0, 200, 850, 150, 0, 0, 0}}), 50.0);
    // An iowait counter that went backwards must not push the figure above 100 % or below 0 %.
    EXPECT_DOUBLE_EQ(*cpuPercent(before, CpuTimes{{200, 0, 100, 800, 90, 0, 0, 0}}), 50.0);
    EXPECT_FALSE(cpuPercent(before, before).has_value());
    // Counters near the top of 64 bits would overflow an integer sum.
    const std::uint64_t huge = 18446744073709551000ull;
    const auto sinceBoot = cpuPercent(CpuTimes{}, CpuTimes{{huge, 0, 0, huge, huge, huge, 0, 0}});
    ASSERT_TRUE(sinceBoot.has_value());
    EXPECT_NEAR(*sinceBoot, 50.0, 1e-9);
}

TEST(Meminfo, TotalMinusAvailable)
{
    const auto m =
        parseMeminfo("MemTotal:  1000 kB\nMemFree: 100 kB\nMemAvailable:   250 kB\nHugePages_Total: 0\n");
    ASSERT_TRUE(m.has_value());
    EXPECT_DOUBLE_EQ(m->totalBytes, 1000 * 1024.0);
    EXPECT_DOUBLE_EQ(m->usedBytes(), 750 * 1024.0);
    EXPECT_DOUBLE_EQ(m->usagePercent(), 75.0);
    // Kernels before 3.14 have no MemAvailable: free + buffers + cached.
    const auto old = parseMeminfo("MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 200 kB\n");
    ASSERT_TRUE(old.has_value());
    EXPECT_DOUBLE_EQ(old->availableBytes, 350 * 1024.0);
    for (const char *text : {"MemFree: 100 kB\nMemAvailable: 50 kB\n", "MemTotal: 0 kB\nMemAvailable: 0 kB\n",
                             "MemTotal: 1000 kB\n", ""})
        EXPECT_FALSE(parseMeminfo(text)) << text;
}

TEST(FirstNumber, UptimeAndLoad)
{
    EXPECT_EQ(parseFirstNumber("706.16 1300.25\n"), 706.16);
    EXPECT_EQ(parseFirstNumber("0.52 0.58 0.59 1/467 12345\n"), 0.52);
    for (const char *text : {"", "n/a 1", "1e999 1"}) // 1e999 would be infinity, which JSON cannot carry
        EXPECT_FALSE(parseFirstNumber(text)) << text;
}

TEST(CpuInfo, CoresThreadsAndModel)
{
    std::string twoSockets;
    for (int cpu = 0; cpu < 8; ++cpu)
        twoSockets += "processor\t: " + std::to_string(cpu) +
                      "\nmodel name\t: Xeon X\nphysical id\t: " + std::to_string(cpu / 4) +
                      "\ncore id\t\t: " + std::to_string(cpu % 2) + "\n\n";
    const auto x86 = parseCpuInfo(twoSockets);
    EXPECT_EQ(x86.threads, 8);
    EXPECT_EQ(x86.cores, 4); // two cores with two threads each, on two sockets
    EXPECT_EQ(x86.model, "Xeon X");

    const auto arm =
        parseCpuInfo("processor : 0\nprocessor : 1\nHardware : BCM2835\nModel : Raspberry Pi 4\n");
    EXPECT_EQ(arm.threads, 2);
    EXPECT_FALSE(arm.cores.has_value());
    EXPECT_EQ(arm.model, "Raspberry Pi 4");

    const auto none = parseCpuInfo("");
    EXPECT_FALSE(none.threads || none.cores || none.model);
}

TEST(Disk, CountsLikeDf)
{
    // 1000 blocks, 300 free of which 100 are reserved for root.
    const auto d = diskFigures(1000, 300, 200, 4096);
    EXPECT_DOUBLE_EQ(d.totalBytes, 1000 * 4096.0);
    EXPECT_DOUBLE_EQ(d.usedBytes, 700 * 4096.0);
    EXPECT_DOUBLE_EQ(d.freeBytes, 200 * 4096.0);
    EXPECT_NEAR(d.usagePercent, 700.0 / 900.0 * 100, 1e-9);
    EXPECT_DOUBLE_EQ(diskFigures(0, 0, 0, 4096).usagePercent, 0.0);
}

TEST(AddressScope, Ranges)
{
    const std::pair<const char *, std::vector<const char *>> cases[] = {
        {"tailscale", {"100.64.0.1", "100.127.255.254", "fd7a:115c:a1e0::1"}},
        {"lan", {"10.1.2.3", "172.16.0.1", "192.168.1.20", "fd00::2", "::ffff:192.168.0.1"}},
        {"public", {"100.128.0.1", "172.32.0.1", "2001:db8::1"}},
        {"link-local", {"169.254.3.4", "fe80::1"}},
        {"loopback", {"127.0.0.1", "::1"}},
        {"", {"not-an-address"}}};
    for (const auto &[scope, addresses] : cases)
        for (const char *address : addresses)
            EXPECT_EQ(addressScope(address), scope) << address;
}

class SysFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        tree.write("class/hwmon/hwmon0/name", "coretemp\n");
        tree.write("class/hwmon/hwmon0/temp1_input", "61000\n");
        tree.write("class/hwmon/hwmon0/temp1_label", "Package id 0\n");
        tree.write("class/hwmon/hwmon0/temp2_input", "58000\n");
        tree.write("class/hwmon/hwmon1/name", "jc42\n");
        tree.write("class/hwmon/hwmon1/temp1_input", "41500\n");
        tree.write("class/hwmon/hwmon2/name", "acpitz\n");
        tree.write("class/hwmon/hwmon2/temp1_input", "-273000\n"); // unconnected input
        tree.write("class/hwmon/hwmon2/temp2_input", "garbage\n");
        tree.write("class/thermal/thermal_zone0/type", "x86_pkg_temp\n");
        tree.write("class/thermal/thermal_zone0/temp", "64000\n");
        tree.write("class/thermal/cooling_device0/type", "Processor\n");
    }
    TempTree tree;
};

TEST_F(SysFixture, SensorsAndTheirSummary)
{
    const auto sensors = readSensors(tree.root());
    ASSERT_EQ(sensors.size(), 4u);
    EXPECT_EQ(sensors[0].name, "Package id 0");
    EXPECT_EQ(sensors[1].name, "temp2"); // no label file
    EXPECT_EQ(sensors[3].chip, "thermal_zone0");

    const auto t = summarize(sensors);
    EXPECT_EQ(t.cpu, 64.0);
    EXPECT_EQ(t.memory, 41.5);
    ASSERT_TRUE(t.hottest.has_value());
    EXPECT_EQ(t.hottest->name, "x86_pkg_temp");
    EXPECT_FALSE(summarize({}).hottest.has_value());
}

TEST_F(SysFixture, RootDiskTemperatureThroughItsPartition)
{
    // /sys/dev/block/259:1 -> the first partition of an NVMe namespace, whose controller has a sensor.
    tree.write("devices/nvme0/hwmon3/temp1_input", "38850\n");
    tree.write("devices/nvme0/nvme0n1/nvme0n1p1/partition", "1\n");
    std::filesystem::create_directories(tree.root() / "dev/block");
    std::filesystem::create_symlink("../../../devices/nvme0", tree.root() / "devices/nvme0/nvme0n1/device");
    std::filesystem::create_symlink("../../devices/nvme0/nvme0n1/nvme0n1p1", tree.root() / "dev/block/259:1");
    EXPECT_EQ(diskTemperature(tree.root(), 259, 1), 38.85);
    EXPECT_FALSE(diskTemperature(tree.root(), 8, 0).has_value());
}

// A whole reading from a fake /proc, with the sampler driven by hand.
class ProcFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        tree.write("proc/stat", "cpu 100 0 100 800 0 0 0 0 0 0\n");
        tree.write("proc/meminfo", "MemTotal: 2000 kB\nMemAvailable: 200 kB\n");
        tree.write("proc/uptime", "3600.50 100.00\n");
        tree.write("proc/loadavg", "1.25 0.5 0.25 2/100 42\n");
        tree.write("proc/cpuinfo", "processor : 0\n");
        tree.write("proc/sys/kernel/hostname", "node-a\n");
        tree.write("sys/class/hwmon/hwmon0/name", "k10temp\n");
        tree.write("sys/class/hwmon/hwmon0/temp1_input", "90000\n");
        options.procRoot = tree.root() / "proc";
        options.sysRoot = tree.root() / "sys";
        options.rootPath = tree.root();
        options.services = {"web.service", "db.service"};
        options.thresholds.disk = {1000, 1000}; // the fixture's disk is the test machine's own
        options.probe = [](const std::vector<std::string> &) {
            return std::vector<std::string>{"active", "failed"};
        };
        options.interfaces = [] {
            return std::vector<InterfaceAddress>{
                {"lo", "127.0.0.1"}, {"eth0", "192.168.1.5"}, {"tailscale0", "100.101.102.103"}};
        };
    }
    // Throws, and so fails the test, when the collector gives an error instead of a reading.
    static nlohmann::ordered_json read(Collector &c)
    {
        return std::get<nlohmann::ordered_json>(c.reading(Clock::now()));
    }
    TempTree tree;
    Collector::Options options;
};

TEST_F(ProcFixture, ReadingFromFixtureFiles)
{
    Collector collector(options);
    collector.sample();
    tree.write("proc/stat", "cpu 190 0 100 810 0 0 0 0 0 0\n");
    collector.sample();
    const auto body = read(collector);
    EXPECT_DOUBLE_EQ(body["cpuUsage"].get<double>(), 90.0); // between the two samples
    EXPECT_EQ(body["loadAverage"], 1.25);
    // CPU 90 % (warning), memory 90 % (warning), db.service failed (critical), 90 °C (warning).
    std::vector<std::string> titles;
    for (const auto &a : body["alerts"])
        titles.push_back(a["title"]);
    EXPECT_EQ(titles, (std::vector<std::string>{"内存使用率偏高", "CPU 使用率偏高", "服务未运行：db.service",
                                                "温度过高"}));
    const auto &hw = body["hardware"];
    EXPECT_FALSE(hw["memory"].contains("temperatureC"));
    EXPECT_EQ(hw["hottestSensor"]["chip"], "k10temp");
    const auto &net = body["network"];
    EXPECT_EQ(net["hostname"], "node-a");
    EXPECT_EQ(net["addresses"].size(), 2u); // loopback left out
    EXPECT_EQ(net["lan"], nlohmann::ordered_json::array({"192.168.1.5"}));
    EXPECT_EQ(net["tailscale"], nlohmann::ordered_json::array({"100.101.102.103"}));
    EXPECT_EQ(net["addresses"][1]["interface"], "tailscale0");
}

TEST_F(ProcFixture, MissingFilesAndSectionsLeftOut)
{
    std::filesystem::remove(tree.root() / "proc/cpuinfo");
    std::filesystem::remove(tree.root() / "proc/sys/kernel/hostname");
    std::filesystem::remove_all(tree.root() / "sys");
    options.interfaces = [] { return std::optional<std::vector<InterfaceAddress>>{}; };
    Collector collector(options);
    EXPECT_TRUE(std::holds_alternative<std::string>(collector.reading(Clock::now()))); // nothing sampled yet
    collector.sample();
    const auto body = read(collector);
    EXPECT_FALSE(body["hardware"].contains("cpu"));
    EXPECT_FALSE(body["hardware"].contains("hottestSensor"));
    EXPECT_FALSE(body.contains("network"));

    // A required figure that cannot be read gives no reading at all rather than a made-up one.
    std::filesystem::remove(tree.root() / "proc/meminfo");
    const auto failed = collector.reading(Clock::now());
    ASSERT_TRUE(std::holds_alternative<std::string>(failed));
    EXPECT_NE(std::get<std::string>(failed).find("meminfo"), std::string::npos);
}

TEST(ReadFile, RegularFilesOnlyWithoutBlocking)
{
    TempTree tree;
    tree.write("small", "abc");
    tree.write("big", std::string(5000, 'x'));
    tree.write("folder/x", "");
    mkfifo((tree.root() / "fifo").c_str(), 0600); // no writer: a blocking open would wait for ever
    const std::tuple<const char *, std::optional<std::string>, int> cases[] = {
        {"small", "abc", 0},
        {"big", std::nullopt, EFBIG},
        {"folder", std::nullopt, EISDIR},
        {"fifo", std::nullopt, EINVAL},
        {"absent", std::nullopt, ENOENT},
    };
    for (const auto &[name, text, error] : cases) {
        errno = 0;
        EXPECT_EQ(readFile(tree.root() / name, 4096), text) << name;
        if (error) {
            EXPECT_EQ(errno, error) << name;
        }
    }
}

// Label values escaped (quote, backslash, line feed; a tab and Chinese stay), broken UTF-8 replaced
// sequence by sequence, a repeated sensor name told apart and a repeated alert given once.
TEST(Prometheus, TextIsWellFormedWhateverTheNames)
{
    const auto reading = nlohmann::ordered_json::parse(R"({"cpuUsage": 12.5, "alerts": [
        {"severity": "critical", "title": "q\"uote"}, {"severity": "warning", "title": "back\\slash\nline"},
        {"severity": "warning", "title": "back\\slash\nline"}, {"severity": "", "title": "no severity"}]})");
    const std::vector<Sensor> sensors{{"Core 0", "coretemp", 40},
                                      {"Core 0", "coretemp", 41},
                                      {"温度\tbad\xff\xc3 \xc0\xaf \xed\xa0\x80", "x", 1}};
    const std::string text = prometheusText(reading, sensors, "1.2");
    const auto parsed = checkExposition(text);
    ASSERT_TRUE(parsed.error.empty()) << parsed.error << "\n" << text;
    const std::string bad = "\xEF\xBF\xBD";
    const std::map<std::string, double> expected{
        {"vantor_cpu_usage_ratio", 0.125},
        {R"(vantor_temperature_celsius{chip="coretemp",sensor="Core 0"})", 40},
        {R"(vantor_temperature_celsius{chip="coretemp",sensor="Core 0 #2"})", 41},
        {"vantor_temperature_celsius{chip=\"x\",sensor=\"温度\tbad" + bad + bad + " " + bad + bad + " " +
             bad + bad + bad + "\"}",
         1},
        {R"(vantor_alert{severity="critical",title="q\"uote"})", 1},
        {R"(vantor_alert{severity="warning",title="back\\slash\nline"})", 1},
        {R"(vantor_agent_build_info{version="1.2"})", 1},
    };
    EXPECT_EQ(parsed.samples, expected) << text;
}
