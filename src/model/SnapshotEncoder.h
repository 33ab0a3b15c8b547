// SPDX-License-Identifier: MIT
#pragma once

#include "Snapshot.h"

#include <QJsonObject>

namespace vantor {

// Writes a reading back under the reply format's own keys, for tools that print one (vantor-check
// --json) and for checks that read it again; absent values are left out, timestamps are written in
// UTC with a Z.
QJsonObject encodeSnapshot(const MetricsSnapshot &snapshot);

} // namespace vantor
