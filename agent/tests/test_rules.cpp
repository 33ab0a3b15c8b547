// SPDX-License-Identifier: MIT
// Configuration, alert rules and their lifetime, the service probe and the request rules.

#include "Alerts.h"
#include "Config.h"
#include "Server.h"
#include "Services.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vantor::agent;
using namespace std::chrono_literals;

TEST(Config, FullFileAndDefaults)
{
    const auto parsed = parseConfig(R"({"listenAddress": "100.64.1.2", "port": 9200, "token": "s3cret",
        "services": ["nginx.service", "ssh"], "thresholds": {"disk": {"warning": 70, "critical": 90},
        "temperatureC": 80}, "sampleIntervalSeconds": 2})");
    ASSERT_TRUE(std::holds_alternative<Config>(parsed)) << std::get<std::string>(parsed);
    const auto &c = std::get<Config>(parsed);
    EXPECT_EQ(c.listenAddress, "100.64.1.2");
    EXPECT_EQ(c.port, 9200);
    EXPECT_EQ(c.services, (std::vector<std::string>{"nginx.service", "ssh"}));
    EXPECT_EQ(c.thresholds.disk, (Limits{70, 90}));
    EXPECT_EQ(c.thresholds.memory, (Limits{85, 95})); // untouched default
    EXPECT_EQ(c.thresholds.temperatureC, 80);

    const auto minimal = parseConfig(R"({"token": "t"})");
    ASSERT_TRUE(std::holds_alternative<Config>(minimal));
    EXPECT_EQ(std::get<Config>(minimal).port, 9100);
    EXPECT_EQ(std::get<Config>(minimal).listenAddress, "127.0.0.1");
    EXPECT_TRUE(std::holds_alternative<Config>(parseConfig(R"({"token": "", "allowEmptyToken": true})")));
}

TEST(Config, ErrorsNameTheProblem)
{
    const std::pair<const char *, const char *> cases[] = {
        {R"({"token": "t",})", "not valid JSON"},
        {R"(["token"])", "JSON object"},
        {R"({})", "\"token\" is empty"},
        {R"({"token": ""})", "allowEmptyToken"},
        {R"({"token": " t"})", "\"token\" must not begin or end with blanks"},
        {R"({"token": 42})", "\"token\" must be a string"},
        {R"({"token": "t", "port": 0})", "\"port\" must be a whole number from 1 to 65535"},
        {R"({"token": "t", "port": 65536})", "\"port\" must be a whole number from 1 to 65535"},
        {R"({"token": "t", "port": 9100.5})", "\"port\""},
        {R"({"token": "t", "listenAddress": ""})", "\"listenAddress\" must not be empty"},
        {R"({"token": "t", "services": "nginx"})", "\"services\""},
        {R"({"token": "t", "services": ["ok.service", "bad unit"]})", "\"services[1]\""},
        {R"({"token": "t", "services": ["--force"]})", "\"services[0]\""},
        {R"({"token": "t", "services": ["a", "a"]})", "second time"},
        {R"({"token": "t", "thresholds": {"disk": {"warn": 80}}})", "unknown key \"thresholds.disk.warn\""},
        {R"({"token": "t", "thresholds": {"cpu": {"warning": 90, "critical": 80}}})",
         "\"thresholds.cpu\" has"},
        {R"({"token": "t", "thresholds": {"memory": {"warning": -1}}})", "\"thresholds.memory.warning\""},
        {R"({"token": "t", "allowEmptyToken": "yes"})", "\"allowEmptyToken\""},
        {R"({"token": "t", "sampleIntervalSeconds": 0})", "\"sampleIntervalSeconds\""},
        {R"({"token": "t", "systemctl": "systemctl"})", "absolute path"},
        {R"({"token": "t", "Port": 9100})", "unknown key \"Port\""},
        {R"({"token": "t", "tls": "x.pem"})", "\"tls\" must be an object"},
        {R"({"token": "t", "tls": {"certificate": "c.pem"}})", "\"tls\" needs both"},
    };
    for (const auto &[text, expected] : cases) {
        const auto parsed = parseConfig(text);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << text;
        EXPECT_NE(std::get<std::string>(parsed).find(expected), std::string::npos)
            << text << " -> " << std::get<std::string>(parsed);
    }
}

TEST(Rules, RaiseTheRightAlerts)
{
    using Keys = std::vector<std::pair<std::string, std::string>>; // key, severity
    const std::pair<Observation, Keys> cases[] = {
        {{10, 20, 30, {{"a", "active"}}, Sensor{"t", "c", 50}}, {}},
        {{85, 85, 85, {}, Sensor{"t", "c", 85}}, {}}, // at the warning line is not above it
        {{85.1, 90, 95, {}, std::nullopt}, {{"disk", "warning"}, {"memory", "warning"}, {"cpu", "warning"}}},
        {{99, 10, 95.5, {}, std::nullopt}, {{"disk", "critical"}, {"cpu", "critical"}}},
        {{0, 0, 0, {{"a", "active"}, {"b", "failed"}, {"c", "activating"}}, std::nullopt},
         {{"service:b", "critical"}, {"service:c", "critical"}}},
        {{0, 0, 0, {}, Sensor{"Tctl", "k10temp", 92}}, {{"temperature", "warning"}}}};
    for (const auto &row : cases) {
        Keys got;
        for (const auto &c : assess(row.first, Thresholds{}))
            got.emplace_back(c.key, c.severity);
        EXPECT_EQ(got, row.second) << "case " << (&row - cases);
    }
}

TEST(Rules, TextsAreChineseAndCarryTheFigures)
{
    const auto c = assess({0, 0, 97.25, {{"nginx.service", "failed"}}, std::nullopt}, Thresholds{});
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].title, "磁盘空间严重不足");
    EXPECT_EQ(c[0].detail, "根分区已使用 97.2%，超过严重阈值 95%。");
    EXPECT_EQ(c[1].title, "服务未运行：nginx.service");
    EXPECT_NE(c[1].detail.find("failed"), std::string::npos);
}

TEST(AlertLifetime, KeepsIdWhileTheConditionHolds)
{
    AlertTracker tracker;
    const Condition diskWarn{"disk", "warning", "t", "91%"}, diskCrit{"disk", "critical", "t", "97%"};
    const Condition svc{"service:a", "critical", "t", "d"};
    const auto t0 = Clock::now();
    const auto first = tracker.update({diskWarn, svc}, t0);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].id.size(), 36u);
    EXPECT_NE(first[0].id, first[1].id);

    auto changed = diskWarn;
    changed.detail = "92%";
    const auto second = tracker.update({changed, svc}, t0 + 10s);
    EXPECT_EQ(second[0].id, first[0].id);
    EXPECT_EQ(second[0].createdAt, t0);
    EXPECT_EQ(second[0].detail, "92%");

    // The disk turns critical (a new alert) while the service recovers.
    const auto third = tracker.update({diskCrit}, t0 + 20s);
    ASSERT_EQ(third.size(), 1u);
    EXPECT_NE(third[0].id, first[0].id);
    EXPECT_EQ(third[0].createdAt, t0 + 20s);

    // The service fails again: a new occurrence, with a new id.
    const auto fourth = tracker.update({diskCrit, svc}, t0 + 30s);
    EXPECT_EQ(fourth[0].id, third[0].id);
    EXPECT_NE(fourth[1].id, first[1].id);
    EXPECT_EQ(fourth[1].createdAt, t0 + 30s);
}

TEST(ServiceProbe, ReadsSystemctlOutput)
{
    TempTree tree;
    const auto write = [&](const char *name, const std::string &body) {
        const auto path = tree.write(name, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
        return path.string();
    };
    // Prints one state per unit; checks that the units come after "--".
    const auto fake =
        write("systemctl", "[ \"$1 $2\" = \"is-active --\" ] || exit 9\nshift 2\n"
                           "for u; do case $u in up*) echo active;; *) echo inactive;; esac; done\n"
                           "exit 3\n");
    const std::vector<std::string> units{"up.service", "down.service"};
    EXPECT_EQ(systemctlProbe(fake, 5s)(units), (std::vector<std::string>{"active", "inactive"}));

    const std::vector<std::string> unknown{"unknown", "unknown"};
    EXPECT_EQ(systemctlProbe(write("short", "echo active\n"), 5s)(units), unknown);
    EXPECT_EQ(systemctlProbe(write("slow", "exec sleep 5\n"), 200ms)(units), unknown);
    EXPECT_EQ(systemctlProbe((tree.root() / "missing").string(), 5s)(units), unknown);
}

TEST(Requests, ExactlyOneRightCredential)
{
    TempTree tree;
    for (const auto &[file, text] : {std::pair{"stat", "cpu 1 0 1 8\n"},
                                     {"meminfo", "MemTotal: 100 kB\nMemAvailable: 50 kB\n"},
                                     {"uptime", "1 1\n"},
                                     {"loadavg", "0.1 0 0\n"},
                                     {"sys/kernel/hostname", "bad\xffname\n"}})
        tree.write(std::string("proc/") + file, text); // the host name is not UTF-8
    Collector collector({.procRoot = tree.root() / "proc",
                         .sysRoot = tree.root(),
                         .rootPath = tree.root(),
                         .interfaces = nullptr});
    collector.sample();
    AgentServer server(Config{.token = "t"}, collector);
    const auto ok = server.handle({"GET", "/metrics", {"t"}, {}, ""});
    EXPECT_EQ(ok.status, 200);
    EXPECT_NE(ok.body.find("\"hostname\":\"bad\xEF\xBF\xBDname\""), std::string::npos) << ok.body;

    using Strings = std::vector<std::string>;
    struct Row {
        const char *name;
        std::string method, path;
        Strings tokens, authorizations;
        int status;
    };
    const Row rows[] = {
        {"bearer", "GET", "/metrics", {}, {"Bearer t"}, 200},
        {"bearer, scheme in other case", "GET", "/metrics/prometheus", {}, {"bEARER t"}, 200},
        {"header token on the Prometheus path", "GET", "/metrics/prometheus", {"t"}, {}, 200},
        {"nothing", "GET", "/metrics/prometheus", {}, {}, 401},
        {"empty token", "GET", "/metrics", {""}, {}, 401},
        {"the token and more", "GET", "/metrics", {"tt"}, {}, 401},
        {"the token in another case", "GET", "/metrics", {"T"}, {}, 401},
        {"unknown path without a token", "GET", "/metrics.json", {}, {}, 404},
        {"wrong bearer", "GET", "/metrics", {}, {"Bearer x"}, 401},
        {"bearer without a token", "GET", "/metrics", {}, {"Bearer"}, 401},
        {"another scheme", "GET", "/metrics", {}, {"Basic dDp0"}, 401},
        {"two header tokens, one wrong", "GET", "/metrics", {"x", "t"}, {}, 401},
        {"the same token twice", "GET", "/metrics", {"t", "t"}, {}, 401},
        {"a token in both headers", "GET", "/metrics", {"t"}, {"Bearer t"}, 401},
        {"right token, another scheme beside it", "GET", "/metrics", {"t"}, {"Basic dDp0"}, 401},
        {"trailing slash", "GET", "/metrics/", {"t"}, {}, 404},
        {"post", "POST", "/metrics/prometheus", {"t"}, {}, 405},
    };
    for (const auto &row : rows)
        EXPECT_EQ(server.handle({row.method, row.path, row.tokens, row.authorizations, ""}).status,
                  row.status)
            << row.name;
    const auto post = server.handle({"POST", "/metrics", {"t"}, {}, ""});
    EXPECT_EQ(post.headers, (std::vector<std::pair<std::string, std::string>>{{"Allow", "GET"}}));

    std::filesystem::remove(tree.root() / "proc/uptime");
    EXPECT_EQ(server.handle({"GET", "/metrics", {"t"}, {}, ""}).status, 500);
}

TEST(Requests, RefusalsAreLoggedAtMostOnceAMinuteWithACount)
{
    Collector collector({});
    AgentServer server(Config{.token = "t"}, collector);
    testing::internal::CaptureStderr();
    const auto start = AgentServer::SteadyClock::now();
    for (const char *peer : {"192.0.2.1", "192.0.2.2", "192.0.2.3"})
        server.handle({"GET", "/metrics", {"x"}, {}, peer});
    server.flushRefusals(start + std::chrono::seconds(50)); // too soon: nothing
    server.flushRefusals(start + std::chrono::seconds(61));
    server.flushRefusals(start + std::chrono::seconds(200)); // nothing new: nothing
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vantor-agent: refused 1 request(s) without the right token, the last from 192.0.2.1\n"
              "vantor-agent: refused 2 request(s) without the right token in the last minute, the last from "
              "192.0.2.3\n");
}
