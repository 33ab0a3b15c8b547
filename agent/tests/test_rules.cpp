// SPDX-License-Identifier: MIT
// Configuration, alert rules and their lifetime, the service probe and the request rules.

#include "Alerts.h"
#include "Config.h"
#include "Server.h"
#include "Services.h"
#include "TempTree.h"

#include <gtest/gtest.h>

using namespace vantor::agent;
using namespace std::chrono_literals;

TEST(Config, FullFile)
{
    // std::get throws, failing the test, when the file is refused.
    const auto c =
        std::get<Config>(parseConfig(R"({"listenAddress": "100.64.1.2", "port": 9200, "token": "s3cret",
        "services": ["nginx.service", "ssh"], "thresholds": {"disk": {"warning": 70, "critical": 90},
        "temperatureC": 80}, "sampleIntervalSeconds": 2})"));
    const Thresholds thresholds{.disk = {70, 90}, .temperatureC = 80}; // memory and CPU keep their defaults
    EXPECT_EQ(
        std::tuple(c.listenAddress, c.port, c.services, c.thresholds, c.sampleIntervalSeconds),
        std::tuple("100.64.1.2", 9200, std::vector<std::string>{"nginx.service", "ssh"}, thresholds, 2));
    EXPECT_TRUE(std::holds_alternative<Config>(parseConfig(R"({"token": "", "allowEmptyToken": true})")));
}

TEST(Config, ErrorsNameTheProblem)
{
    const std::pair<const char *, const char *> cases[] = {
        {R"({"token": "t",})", "not valid JSON"},
        {R"({"token": ""})", "allowEmptyToken"},
        {R"({"token": " t"})", "\"token\" must not begin or end with blanks"},
        {R"({"token": 42})", "\"token\" must be a string"},
        {R"({"token": "t", "port": 0})", "\"port\" must be a whole number from 1 to 65535"},
        {R"({"token": "t", "port": 65536})", "\"port\" must be a whole number from 1 to 65535"},
        {R"({"token": "t", "listenAddress": ""})", "\"listenAddress\" must not be empty"},
        {R"({"token": "t", "services": ["ok.service", "--force"]})", "\"services[1]\""},
        {R"({"token": "t", "services": ["a", "a"]})", "second time"},
        {R"({"token": "t", "thresholds": {"disk": {"warn": 80}}})", "unknown key \"thresholds.disk.warn\""},
        {R"({"token": "t", "thresholds": {"cpu": {"warning": 90, "critical": 80}}})",
         "\"thresholds.cpu\" has"},
        {R"({"token": "t", "sampleIntervalSeconds": 0})", "\"sampleIntervalSeconds\""},
        {R"({"token": "t", "systemctl": "systemctl"})", "absolute path"},
        {R"({"token": "t", "tls": {"certificate": "c.pem"}})", "\"tls\" needs both"},
        {"{\"token\": \"t\",\n\"token\": \"t\"}", "\"token\" is given twice, the second time at line 2"},
        {"{\"thresholds\": {\"cpu\": {\"warning\": 1,\n\n\"warning\": 1}}, \"token\": \"t\"}",
         "\"thresholds.cpu.warning\" is given twice, the second time at line 3"},
    };
    for (const auto &[text, expected] : cases) {
        const auto parsed = parseConfig(text);
        const auto *message = std::get_if<std::string>(&parsed);
        EXPECT_TRUE(message && message->find(expected) != std::string::npos)
            << text << " -> " << (message ? *message : "accepted");
    }
}

TEST(Rules, RaiseTheRightAlerts)
{
    using Keys = std::vector<std::pair<std::string, std::string>>; // key, severity
    const std::pair<Observation, Keys> cases[] = {
        {{85, 85, 85, {{"a", "active"}}, Sensor{"t", "c", 85}}, {}}, // at the warning line is not above it
        {{95.5, 95, 85.1, {}, std::nullopt},
         {{"disk", "warning"}, {"memory", "warning"}, {"cpu", "critical"}}},
        {{0, 0, 0, {{"a", "active"}, {"b", "failed"}, {"c", "activating"}}, std::nullopt},
         {{"service:b", "critical"}, {"service:c", "critical"}}},
        {{0, 0, 0, {}, Sensor{"Tctl", "k10temp", 92}}, {{"temperature", "warning"}}}};
    for (const auto &row : cases) {
        Keys got;
        for (const auto &c : assess(row.first, Thresholds{}))
            got.emplace_back(c.key, c.severity);
        EXPECT_EQ(got, row.second) << "case " << (&row - cases);
    }
    // The texts are Chinese and carry the figures.
    const auto disk = assess({0, 0, 97.25, {}, std::nullopt}, Thresholds{}).at(0);
    EXPECT_EQ(std::tuple(disk.title, disk.detail),
              std::tuple("磁盘空间严重不足", "根分区已使用 97.2%，超过严重阈值 95%。"));
}

TEST(AlertLifetime, KeepsIdWhileTheConditionHolds)
{
    AlertTracker tracker;
    const Condition warn{"disk", "warning", "t", "91%"}, warnAgain{"disk", "warning", "t", "92%"};
    const Condition crit{"disk", "critical", "t", "97%"}, svc{"service:a", "critical", "t", "d"};
    const auto t0 = Clock::now();
    const auto a = tracker.update({warn, svc}, t0);
    const auto b = tracker.update({warnAgain, svc}, t0 + 10s); // the same conditions, a new figure
    const auto c = tracker.update({crit}, t0 + 20s);      // the disk turns critical, the service recovers
    const auto d = tracker.update({crit, svc}, t0 + 30s); // the service fails again: a new occurrence
    ASSERT_EQ((std::vector{a.size(), b.size(), c.size(), d.size()}), (std::vector<std::size_t>{2, 2, 1, 2}));
    EXPECT_EQ(std::tuple(b[0].id, b[0].createdAt, b[0].detail, b[1].id),
              std::tuple(a[0].id, t0, "92%", a[1].id));
    EXPECT_EQ(std::tuple(c[0].id == a[0].id, d[0].id, d[1].id == a[1].id, d[1].createdAt),
              std::tuple(false, c[0].id, false, t0 + 30s));
}

// The normal answer is read in the end-to-end test; here each way systemctl can fail.
TEST(ServiceProbe, UnknownWhenSystemctlFails)
{
    TempTree tree;
    const std::vector<std::string> units{"a.service", "b.service"}, unknown{"unknown", "unknown"};
    for (const auto &[name, body, limit] :
         {std::tuple{"short", "echo active\n", 5000ms}, {"slow", "exec sleep 5\n", 200ms}}) {
        const auto path = tree.write(name, std::string("#!/bin/sh\n") + body);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        EXPECT_EQ(systemctlProbe(path.string(), limit)(units), unknown) << name;
    }
    EXPECT_EQ(systemctlProbe((tree.root() / "missing").string(), 5s)(units), unknown);
}

TEST(Requests, ExactlyOneRightCredentialAndRefusalsLoggedOnceAMinute)
{
    TempTree tree;
    for (const auto &[file, text] : {std::pair{"stat", "cpu 1 0 1 8\n"},
                                     {"meminfo", "MemTotal: 100 kB\nMemAvailable: 50 kB\n"},
                                     {"uptime", "1 1\n"},
                                     {"loadavg", "0.1 0 0\n"},
                                     {"sys/kernel/hostname", "bad\xffname\n"}})
        tree.write(std::string("proc/") + file, text); // the host name is not UTF-8
    Collector collector({.procRoot = tree.root() / "proc", .interfaces = nullptr});
    collector.sample();
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

    const auto ok = server.handle({"GET", "/metrics", {"t"}, {}, ""});
    EXPECT_EQ(ok.status, 200);
    EXPECT_NE(ok.body.find("\"hostname\":\"bad\xEF\xBF\xBDname\""), std::string::npos) << ok.body;
    using Strings = std::vector<std::string>;
    const std::tuple<const char *, const char *, const char *, Strings, Strings, int> rows[] = {
        {"bearer, scheme in any case", "GET", "/metrics/prometheus", {}, {"bEARER t"}, 200},
        {"blanks at the edges of either header", "GET", "/metrics", {" t \t"}, {}, 200},
        {"blanks at the edges of a bearer", "GET", "/metrics", {}, {"\tBearer t  "}, 200},
        {"nothing", "GET", "/metrics/prometheus", {}, {}, 401},
        {"the token and more", "GET", "/metrics", {"tt"}, {}, 401},
        {"wrong bearer", "GET", "/metrics", {}, {"Bearer x"}, 401},
        {"the token under another scheme", "GET", "/metrics", {}, {"Basic t"}, 401},
        {"another path", "GET", "/metrics/", {"t"}, {}, 404},
        {"the same token twice", "GET", "/metrics", {"t", "t"}, {}, 401},
        {"a token in both headers", "GET", "/metrics", {"t"}, {"Bearer t"}, 401},
    };
    for (const auto &[name, method, path, tokens, authorizations, status] : rows)
        EXPECT_EQ(server.handle({method, path, tokens, authorizations, ""}).status, status) << name;
    const auto post = server.handle({"POST", "/metrics", {"t"}, {}, ""});
    EXPECT_EQ(std::tuple(post.status, post.headers),
              std::tuple(405, std::vector<std::pair<std::string, std::string>>{{"Allow", "GET"}}));
}
