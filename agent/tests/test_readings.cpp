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
        {"cpu0 1 2 3 4\ncpu1 1 2 3 4\n", std::nullopt}};    // per-CPU lines only
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
    EXPECT_NEAR(cpuPercent(CpuTimes{}, CpuTimes{{huge, 0, 0, huge, huge, huge, 0, 0}}).value(), 50.0, 1e-9);
}

TEST(Meminfo, Available)
{
    // Kernels before 3.14 have no MemAvailable: free + buffers + cached.
    EXPECT_EQ(parseMeminfo("MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 200 kB\n")
                  .value()
                  .availableBytes,
              350 * 1024.0);
    for (const char *text : {"MemFree: 100 kB\nMemAvailable: 50 kB\n", "MemTotal: 0 kB\nMemAvailable: 0 kB\n",
                             "MemTotal: 1000 kB\n"})
        EXPECT_FALSE(parseMeminfo(text)) << text;
}

TEST(FirstNumber, UptimeAndLoad)
{
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
    const auto summary = [](const CpuInfo &i) { return std::tuple(i.threads, i.cores, i.model); };
    using Summary = decltype(summary(CpuInfo{}));
    // Two cores with two threads each, on two sockets.
    EXPECT_EQ(summary(parseCpuInfo(twoSockets)), Summary(8, 4, "Xeon X"));
    EXPECT_EQ(
        summary(parseCpuInfo("processor : 0\nprocessor : 1\nHardware : BCM2835\nModel : Raspberry Pi 4\n")),
        Summary(2, std::nullopt, "Raspberry Pi 4"));
    EXPECT_EQ(summary(parseCpuInfo("")), Summary());
}

TEST(Disk, CountsLikeDf)
{
    // 1000 blocks, 300 free of which 100 are reserved for root.
    const auto d = diskFigures(1000, 300, 200, 4096);
    EXPECT_EQ(std::tuple(d.totalBytes, d.usedBytes, d.freeBytes),
              std::tuple(1000 * 4096.0, 700 * 4096.0, 200 * 4096.0));
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

TEST(Sys, SensorsTheirSummaryAndTheRootDisk)
{
    TempTree tree;
    for (const auto &[file, text] : {std::pair{"hwmon/hwmon0/name", "coretemp\n"},
                                     {"hwmon/hwmon0/temp1_input", "61000\n"},
                                     {"hwmon/hwmon0/temp1_label", "Package id 0\n"},
                                     {"hwmon/hwmon0/temp2_input", "58000\n"},
                                     {"hwmon/hwmon1/name", "jc42\n"},
                                     {"hwmon/hwmon1/temp1_input", "41500\n"},
                                     {"hwmon/hwmon2/name", "acpitz\n"},
                                     {"hwmon/hwmon2/temp1_input", "-273000\n"}, // unconnected input
                                     {"hwmon/hwmon2/temp2_input", "garbage\n"},
                                     {"thermal/thermal_zone0/type", "x86_pkg_temp\n"},
                                     {"thermal/thermal_zone0/temp", "64000\n"}})
        tree.write(std::string("class/") + file, text);
    const auto sensors = readSensors(tree.root());
    std::vector<std::string> names; // temp2 has no label file
    for (const auto &s : sensors)
        names.push_back(s.chip + "/" + s.name);
    EXPECT_EQ(names, (std::vector<std::string>{"coretemp/Package id 0", "coretemp/temp2", "jc42/temp1",
                                               "thermal_zone0/x86_pkg_temp"}));
    const auto t = summarize(sensors);
    EXPECT_EQ(std::tuple(t.cpu, t.memory, t.hottest.value_or(Sensor{}).name),
              std::tuple(64.0, 41.5, "x86_pkg_temp"));

    // /sys/dev/block/259:1 -> the first partition of an NVMe namespace, whose controller has a sensor.
    tree.write("devices/nvme0/hwmon3/temp1_input", "38850\n");
    tree.write("devices/nvme0/nvme0n1/nvme0n1p1/partition", "1\n");
    std::filesystem::create_directories(tree.root() / "dev/block");
    std::filesystem::create_symlink("../../../devices/nvme0", tree.root() / "devices/nvme0/nvme0n1/device");
    std::filesystem::create_symlink("../../devices/nvme0/nvme0n1/nvme0n1p1", tree.root() / "dev/block/259:1");
    EXPECT_EQ(diskTemperature(tree.root(), 259, 1), 38.85);
    EXPECT_FALSE(diskTemperature(tree.root(), 8, 0).has_value());
}

// A whole reading from a fake /proc, with the sampler driven by hand; then with files and sections gone.
TEST(Collector, ReadingFromFixtureFilesAndWithoutThem)
{
    TempTree tree;
    for (const auto &[file, text] : {std::pair{"proc/stat", "cpu 100 0 100 800 0 0 0 0 0 0\n"},
                                     {"proc/meminfo", "MemTotal: 2000 kB\nMemAvailable: 200 kB\n"},
                                     {"proc/uptime", "3600.50 100.00\n"},
                                     {"proc/loadavg", "1.25 0.5 0.25 2/100 42\n"},
                                     {"sys/class/hwmon/hwmon0/name", "k10temp\n"},
                                     {"sys/class/hwmon/hwmon0/temp1_input", "90000\n"}})
        tree.write(file, text);
    Collector::Options options{
        .procRoot = tree.root() / "proc", .sysRoot = tree.root() / "sys", .rootPath = tree.root()};
    options.interfaces = [] {
        return std::vector<InterfaceAddress>{
            {"lo", "127.0.0.1"}, {"eth0", "192.168.1.5"}, {"tailscale0", "100.101.102.103"}};
    };
    Collector collector(options);
    EXPECT_TRUE(std::holds_alternative<std::string>(collector.reading(Clock::now()))); // nothing sampled yet
    collector.sample();
    tree.write("proc/stat", "cpu 190 0 100 810 0 0 0 0 0 0\n");
    collector.sample();
    // std::get throws, and so fails the test, when the collector gives an error instead of a reading.
    const auto body = std::get<nlohmann::ordered_json>(collector.reading(Clock::now()));
    EXPECT_DOUBLE_EQ(body["cpuUsage"].get<double>(), 90.0); // between the two samples
    EXPECT_EQ(body["hardware"]["hottestSensor"]["chip"], "k10temp");
    const auto &net = body["network"];
    EXPECT_EQ(net["addresses"].size(), 2u); // loopback left out
    EXPECT_EQ(net["lan"], nlohmann::ordered_json::array({"192.168.1.5"}));

    std::filesystem::remove_all(tree.root() / "sys");
    options.interfaces = [] { return std::optional<std::vector<InterfaceAddress>>{}; };
    Collector bare(options);
    bare.sample();
    const auto left = std::get<nlohmann::ordered_json>(bare.reading(Clock::now()));
    EXPECT_FALSE(left["hardware"].contains("cpu") || left["hardware"].contains("hottestSensor") ||
                 left.contains("network"));
}

// Label values escaped (quote, backslash, line feed; a tab and Chinese stay), broken UTF-8 replaced
// sequence by sequence, a repeated sensor name (also one repeated once written) told apart and a
// repeated alert given once.
TEST(Prometheus, TextIsWellFormedWhateverTheNames)
{
    const auto reading = nlohmann::ordered_json::parse(R"({"alerts": [
        {"severity": "critical", "title": "q\"uote"}, {"severity": "warning", "title": "back\\slash\nline"},
        {"severity": "warning", "title": "back\\slash\nline"}, {"severity": "", "title": "no severity"}]})");
    const std::vector<Sensor> sensors{{"Core 0", "coretemp", 40},
                                      {"Core 0", "coretemp", 41},
                                      {"温度\tbad\xff\xc3 \xc0\xaf \xed\xa0\x80", "x", 1},
                                      {"b\xfe", "x", 2}, // written as the next one is
                                      {"b\xfd", "x", 3}};
    const std::string text = prometheusText(reading, sensors, "1.2");
    const auto parsed = checkExposition(text);
    ASSERT_TRUE(parsed.error.empty()) << parsed.error << "\n" << text;
    const std::string bad = "\xEF\xBF\xBD";
    const std::map<std::string, double> expected{
        {R"(vantor_temperature_celsius{chip="coretemp",sensor="Core 0"})", 40},
        {R"(vantor_temperature_celsius{chip="coretemp",sensor="Core 0 #2"})", 41},
        {"vantor_temperature_celsius{chip=\"x\",sensor=\"温度\tbad" + bad + bad + " " + bad + bad + " " +
             bad + bad + bad + "\"}",
         1},
        {"vantor_temperature_celsius{chip=\"x\",sensor=\"b" + bad + "\"}", 2},
        {"vantor_temperature_celsius{chip=\"x\",sensor=\"b" + bad + " #2\"}", 3},
        {R"(vantor_alert{severity="critical",title="q\"uote"})", 1},
        {R"(vantor_alert{severity="warning",title="back\\slash\nline"})", 1},
        {R"(vantor_agent_build_info{version="1.2"})", 1},
    };
    EXPECT_EQ(parsed.samples, expected) << text;
}
