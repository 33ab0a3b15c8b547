// SPDX-License-Identifier: MIT
#pragma once

// Agent reply bodies shared by the benchmarks.

#include <QByteArray>
#include <QStringBuilder>

#include <cstdio>

namespace vantor::bench {

// Shaped like the reply of vantor-agent on a small server, with the texts it writes (raw UTF-8).
inline const QByteArray typicalReply =
    R"({"cpuUsage":23.817204301075268,"memoryUsage":61.40350912342351,)"
    R"("diskUsage":72.18578085405383,"uptimeSeconds":1873422.38,"loadAverage":0.62,)"
    R"("servicesRunning":5,"servicesTotal":6,"alerts":[)"
    R"({"id":"d55c7b60-c0dd-40d2-929c-8771fb99f595","severity":"critical",)"
    R"("title":"服务未运行","detail":"nginx.service 处于 failed 状态。",)"
    R"("createdAt":"2025-03-14T08:21:05Z"},)"
    R"({"id":"2229ae89-09d0-4e79-a76a-6004ab302a5c","severity":"warning",)"
    R"("title":"磁盘使用率偏高","detail":"根分区已使用 72.2%，超过警告阈值 70%。",)"
    R"("createdAt":"2025-03-14T08:21:05Z"},)"
    R"({"id":"6f1c2e3a-8b7d-4c5e-9f01-23456789abcd","severity":"warning",)"
    R"("title":"温度偏高","detail":"coretemp Package id 0 为 81.0°C，超过警告阈值 80°C。",)"
    R"("createdAt":"2025-03-14T08:20:55Z"}],)"
    R"("observedAt":"2025-03-14T08:21:05Z",)"
    R"("hardware":{"cpu":{"cores":4,"threads":8,)"
    R"("model":"Intel(R) Core(TM) i7-8565U CPU @ 1.80GHz","temperatureC":81.0},)"
    R"("memory":{"totalBytes":16624467968.0,"availableBytes":6416490496.0,)"
    R"("usedBytes":10207977472.0},)"
    R"("storage":{"root":{"totalBytes":502392610816.0,"freeBytes":139744342016.0,)"
    R"("usedBytes":362648268800.0,"temperatureC":41.85}},)"
    R"("hottestTemperatureC":81.0,)"
    R"("hottestSensor":{"name":"Package id 0","chip":"coretemp","temperatureC":81.0}},)"
    R"("network":{"hostname":"tokyo-edge-01","addresses":[)"
    R"({"address":"203.0.113.17","scope":"public","interface":"eth0"},)"
    R"({"address":"198.51.100.17","scope":"lan","interface":"eth1"},)"
    R"({"address":"fd7a:115c:a1e0::1","scope":"tailscale","interface":"tailscale0"},)"
    R"({"address":"fd7a:115c:a1e0::1234:5678","scope":"tailscale","interface":"tailscale0"},)"
    R"({"address":"fe80::fc:ff:fe00:1","scope":"link-local","interface":"eth0"}],)"
    R"("lan":["198.51.100.17"],"tailscale":["fd7a:115c:a1e0::1","fd7a:115c:a1e0::1234:5678"]},)"
    R"("notices":[{"id":"0b7e2f6a-1c3d-4e5f-8a9b-0c1d2e3f4a5b","severity":"info",)"
    R"("title":"代理已更新","detail":"vantor-agent 0.1.0 于 2025-03-13 启动。",)"
    R"("createdAt":"2025-03-13T22:00:00Z"}]})";

// The typical reply with its alert list replaced by `count` generated alerts.
inline QByteArray largeReply(int count)
{
    QByteArray alerts;
    alerts.reserve(count * 240);
    for (int i = 0; i < count; ++i) {
        char id[37];
        std::snprintf(id, sizeof id, "%08x-%04x-4%03x-8%03x-%012x", 0x5a000000u + unsigned(i),
                      unsigned(i) & 0xffff, unsigned(i) & 0xfff, unsigned(i * 7) & 0xfff,
                      0xabcdef00u + unsigned(i));
        char time[21];
        std::snprintf(time, sizeof time, "2025-03-%02dT%02d:%02d:%02dZ", 1 + i / 86400 % 28, i / 3600 % 24,
                      i / 60 % 60, i % 60);
        if (i) alerts += ',';
        alerts += R"({"id":")";
        alerts += id;
        alerts += i % 3 ? R"(","severity":"warning","title":"磁盘使用率偏高",)"
                        : R"(","severity":"critical","title":"服务未运行",)";
        alerts += R"("detail":"根分区已使用 91.4%，超过警告阈值 90%。检查编号 )";
        alerts += QByteArray::number(i);
        alerts += R"(。","createdAt":")";
        alerts += time;
        alerts += R"("})";
    }
    QByteArray body = typicalReply;
    const qsizetype start = body.indexOf("\"alerts\":[") + 10;
    const qsizetype end = body.indexOf("],\"observedAt\"");
    body.replace(start, end - start, alerts);
    return body;
}

// Bodies an attacker could send, each within the 8 MiB reply cap. All but the last are valid JSON.
inline constexpr qsizetype hostileCap = 8 * 1024 * 1024;

// A minimal valid reply whose ignored key "x" holds `value`.
inline QByteArray replyWithExtra(const QByteArray &value)
{
    return QByteArray(R"({"x":)") + value +
           R"(,"cpuUsage":1,"memoryUsage":2,"diskUsage":3,"uptimeSeconds":4,"loadAverage":0.5,)"
           R"("servicesRunning":1,"servicesTotal":2,"alerts":[],"observedAt":"2025-03-14T08:21:05Z"})";
}

// `unit` repeated, comma-separated, inside an array, up to about the cap.
inline QByteArray repeatedArray(const QByteArray &unit)
{
    QByteArray items;
    const qsizetype count = (hostileCap - 512) / (unit.size() + 1);
    items.reserve(count * (unit.size() + 1) + 2);
    items += '[';
    for (qsizetype i = 0; i < count; ++i) {
        if (i) items += ',';
        items += unit;
    }
    items += ']';
    return items;
}

inline QByteArray nestedArraysBody()
{
    return replyWithExtra(repeatedArray("[[[[[[[[]]]]]]]]"));
}

inline QByteArray hugeStringBody()
{
    return replyWithExtra(QByteArray(1, '"') + QByteArray(hostileCap - 512, 'a') + '"');
}

// About 50,000 short alerts.
inline QByteArray shortAlertsBody()
{
    const QByteArray alert =
        R"({"id":"d55c7b60-c0dd-40d2-929c-8771fb99f595","severity":"warning",)"
        R"("title":"磁盘使用率偏高","detail":"根分区已使用 91%。","createdAt":"2025-03-14T08:21:05Z"})";
    QByteArray body = replyWithExtra("0");
    body.replace(R"("alerts":[])", QByteArray(R"("alerts":)").append(repeatedArray(alert)));
    return body;
}

// Nesting `depth` arrays deep, repeated to fill the cap.
inline QByteArray deepNestingBody(int depth)
{
    const qsizetype inner = depth - 2; // the array of copies and the reply object add two levels
    return replyWithExtra(repeatedArray(QByteArray(inner, '[').append(QByteArray(inner, ']'))));
}

} // namespace vantor::bench
