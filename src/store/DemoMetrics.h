// SPDX-License-Identifier: MIT
#pragma once

#include "model/Snapshot.h"

#include <QDateTime>

namespace vantor {

// The synthetic reading of demo mode for one list position at demo counter `tick`. A pure function
// apart from the fresh alert ids: the figures depend only on (position, tick), the times on `now`.
MetricsSnapshot demoMetrics(qint64 position, qint64 tick, const QDateTime &now);

// The alerts demo mode raises for a reading's disk and CPU figures, created at `now`.
QList<ServerAlert> demoAlerts(const MetricsSnapshot &figures, const QDateTime &now);

} // namespace vantor
