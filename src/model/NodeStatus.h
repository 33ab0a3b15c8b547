// SPDX-License-Identifier: MIT
#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

namespace vantor {

enum class NodeStatus { online, warning, critical, offline };

QString statusName(NodeStatus status);
std::optional<NodeStatus> statusFromName(QStringView name);
size_t qHash(NodeStatus status, size_t seed = 0);

} // namespace vantor
