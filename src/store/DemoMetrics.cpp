// SPDX-License-Identifier: MIT
#include "DemoMetrics.h"

#include <algorithm>
#include <cmath>

namespace vantor {

using namespace Qt::StringLiterals;

MetricsSnapshot demoMetrics(qint64 position, qint64 tick, const QDateTime &now)
{
    const double i = double(position);
    const double p = i + double(tick) / 3.0;
    const int slot = int(position % 3);
    static constexpr double disks[] = {62, 78, 91};
    static constexpr double uptimes[] = {864000, 421200, 129600};

    MetricsSnapshot m;
    m.cpuUsage = std::min(std::max(9 * i + 19 * std::sin(p) + 34, 8.0), 96.0);
    m.memoryUsage = std::min(std::max(6 * i + 12 * std::cos(0.7 * p) + 48, 20.0), 95.0);
    m.diskUsage = disks[slot];
    m.uptimeSeconds = 10 * double(tick) + uptimes[slot];
    m.loadAverage = m.cpuUsage / 100 * 3.8;
    m.servicesRunning = position == 2 ? 5 : 6;
    m.servicesTotal = 6;
    m.observedAt = now;

    m.alerts = demoAlerts(m, now);
    return m;
}

QList<ServerAlert> demoAlerts(const MetricsSnapshot &figures, const QDateTime &now)
{
    // Both figures are positive here, so truncation is the whole-number part without a sign.
    QList<ServerAlert> alerts;
    if (figures.diskUsage >= 90) {
        alerts.append(
            makeAlert(u"warning"_s, u"磁盘空间偏高"_s,
                      u"根分区使用率已达到 "_s + QString::number(qint64(figures.diskUsage)) + u"%"_s, now));
    }
    if (figures.cpuUsage >= 75) {
        alerts.append(makeAlert(u"critical"_s, u"CPU 使用率过高"_s,
                                u"过去采样周期平均 "_s + QString::number(qint64(figures.cpuUsage)) + u"%"_s,
                                now));
    }
    return alerts;
}

} // namespace vantor
