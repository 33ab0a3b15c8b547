// SPDX-License-Identifier: MIT
#include "Alerts.h"

namespace vantor::agent {

namespace {

struct UsageTexts {
    const char *key;
    const char *warningTitle;
    const char *criticalTitle;
    const char *subject; // what the detail sentence talks about
};

void assessUsage(std::vector<Condition> &out, double value, const Limits &limits, const UsageTexts &texts)
{
    const bool critical = value > limits.critical;
    if (!critical && !(value > limits.warning)) return;
    const double limit = critical ? limits.critical : limits.warning;
    out.push_back({texts.key, critical ? "critical" : "warning",
                   critical ? texts.criticalTitle : texts.warningTitle,
                   std::string(texts.subject) + formatNumber(value, 1) + "%，超过" +
                       (critical ? "严重" : "警告") + "阈值 " + formatNumber(limit, 0) + "%。"});
}

} // namespace

std::vector<Condition> assess(const Observation &o, const Thresholds &t)
{
    std::vector<Condition> out;
    assessUsage(out, o.diskUsage, t.disk, {"disk", "磁盘使用率偏高", "磁盘空间严重不足", "根分区已使用 "});
    assessUsage(out, o.memoryUsage, t.memory, {"memory", "内存使用率偏高", "内存严重不足", "内存已使用 "});
    assessUsage(out, o.cpuUsage, t.cpu, {"cpu", "CPU 使用率偏高", "CPU 负载过高", "CPU 使用率为 "});
    for (const auto &[unit, state] : o.services) {
        if (state == "active") continue;
        out.push_back({"service:" + unit, "critical", "服务未运行：" + unit,
                       "systemd 单元 " + unit + " 当前状态为 " + state + "。"});
    }
    if (o.hottest && o.hottest->celsius > t.temperatureC) {
        const auto &s = *o.hottest;
        out.push_back({"temperature", "warning", "温度过高",
                       "传感器 " + s.name + "（" + s.chip + "）读数 " + formatNumber(s.celsius, 1) +
                           "°C，超过阈值 " + formatNumber(t.temperatureC, 0) + "°C。"});
    }
    return out;
}

std::vector<Alert> AlertTracker::update(const std::vector<Condition> &conditions, Clock::time_point now)
{
    std::map<std::string, Open> still;
    std::vector<Alert> alerts;
    for (const auto &c : conditions) {
        const std::string key = c.key + "|" + c.severity;
        auto it = m_open.find(key);
        const Open open = it != m_open.end() ? it->second : Open{newUuid(), now};
        still.emplace(key, open);
        alerts.push_back({open.id, c.severity, c.title, c.detail, open.createdAt});
    }
    m_open = std::move(still);
    return alerts;
}

} // namespace vantor::agent
