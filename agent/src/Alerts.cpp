// SPDX-License-Identifier: MIT
#include "Alerts.h"

#include <algorithm>

namespace vantor::agent {

namespace {

struct UsageTexts {
    std::string key;
    std::string warningTitle;
    std::string criticalTitle;
    std::string subject; // what the detail sentence talks about
};

void assessUsage(std::vector<Condition> &out, double value, const Limits &limits, const UsageTexts &texts)
{
    const bool critical = value > limits.critical;
    if (!critical && !(value > limits.warning)) return;
    const double limit = critical ? limits.critical : limits.warning;
    out.push_back({texts.key, critical ? "critical" : "warning",
                   critical ? texts.criticalTitle : texts.warningTitle,
                   texts.subject + formatNumber(value, 1) + "%，超过" + (critical ? "严重" : "警告") +
                       "阈值 " + formatNumber(limit, 0) + "%。"});
}

// "a、b、c" with at most `shown` names, then how many more.
std::string nameList(const std::vector<std::string> &names, std::size_t shown)
{
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i)
        text += (i ? "、" : "") + names[i];
    if (names.size() > shown) text += " 等 " + std::to_string(names.size()) + " 个";
    return text;
}

void assessFileSystems(std::vector<Condition> &out, const Findings &o, const Thresholds &t)
{
    for (const auto &fs : o.fileSystems) {
        const std::string where = "文件系统 " + fs.mountPoint + "（" + fs.source + "，" + fs.type + "）";
        // The root's usage is the reading's diskUsage, alerted above.
        if (!fs.isRoot)
            assessUsage(out, fs.usagePercent, t.disk,
                        {"filesystem:" + fs.mountPoint, "磁盘使用率偏高：" + fs.mountPoint,
                         "磁盘空间严重不足：" + fs.mountPoint, where + "已使用 "});
        if (fs.inodesPercent)
            assessUsage(out, *fs.inodesPercent, t.inodes,
                        {"inodes:" + fs.mountPoint, "inode 使用率偏高：" + fs.mountPoint,
                         "inode 即将耗尽：" + fs.mountPoint, where + "的 inode 已使用 "});
    }
}

void assessFailedUnits(std::vector<Condition> &out, const Observation &o, const Findings &f)
{
    std::vector<std::string> failed;
    for (const auto &unit : f.failedUnits) {
        const bool watched = std::any_of(o.services.begin(), o.services.end(),
                                         [&](const auto &service) { return service.first == unit; });
        if (!watched) failed.push_back(unit);
    }
    // The sixth and later would crowd out every other alert; one alert counts them.
    const std::size_t each = failed.size() > failedUnitAlerts ? failedUnitAlerts : failed.size();
    for (std::size_t i = 0; i < each; ++i)
        out.push_back({"failed:" + failed[i], "warning", "systemd 单元失败：" + failed[i],
                       "systemd 单元 " + failed[i] + " 处于 failed 状态（systemctl status " + failed[i] +
                           " 查看原因）。"});
    if (failed.size() > each) {
        const std::vector<std::string> rest(failed.begin() + static_cast<std::ptrdiff_t>(each), failed.end());
        out.push_back(
            {"failed:more", "warning", "另有 " + std::to_string(rest.size()) + " 个 systemd 单元失败",
             "处于 failed 状态的还有：" + nameList(rest, 10) + "（systemctl --failed 查看全部）。"});
    }
}

void assessSystem(std::vector<Condition> &out, const Findings &o)
{
    if (o.oom)
        out.push_back({"oom", "warning", "内存耗尽，进程被内核终止",
                       "内核因内存不足终止了 " + std::to_string(o.oom->kills) + " 个进程，最近一次发现于 " +
                           formatTimestamp(o.oom->last) + "（告警保留一小时）。"});
    if (o.clock && !o.clock->synchronised)
        out.push_back({"clock", "warning", "系统时钟未同步",
                       "内核报告系统时钟未与时间源同步（adjtimex：TIME_ERROR），估计误差可达 " +
                           formatNumber(o.clock->maxErrorSeconds, 1) +
                           " 秒；请检查 systemd-timesyncd、chrony 或 ntpd。"});
    if (o.reboot.required)
        out.push_back({"reboot", "warning", "需要重启",
                       o.reboot.packages.empty() ? std::string("系统更新要求重启（/run/reboot-required）。")
                                                 : "系统更新要求重启（/run/reboot-required），涉及软件包：" +
                                                       nameList(o.reboot.packages, 5) + "。"});
}

} // namespace

std::vector<Condition> assess(const Observation &o, const Thresholds &t, const Findings &f)
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
    assessFileSystems(out, f, t);
    if (f.swapUsage)
        assessUsage(out, *f.swapUsage, t.swap,
                    {"swap", "交换空间使用率偏高", "交换空间严重不足", "交换空间已使用 "});
    assessFailedUnits(out, o, f);
    assessSystem(out, f);
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
