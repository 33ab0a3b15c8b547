// SPDX-License-Identifier: MIT
#pragma once

#include "NodeStatus.h"
#include "ServerNode.h"
#include "Snapshot.h"

#include <QString>

#include <optional>

namespace vantor {

// One configured server bound to its latest reading, its health and the reason of its last failed poll.
struct NodeRuntime {
    ServerNode node;
    MetricsSnapshot metrics = MetricsSnapshot::empty();
    NodeStatus status = NodeStatus::offline;
    std::optional<QString> errorMessage;

    const QString &id() const { return node.id; }
    bool operator==(const NodeRuntime &) const = default;
};

size_t qHash(const NodeRuntime &v, size_t seed = 0);

} // namespace vantor
