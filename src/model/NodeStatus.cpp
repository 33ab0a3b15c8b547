// SPDX-License-Identifier: MIT
#include "NodeStatus.h"

namespace vantor {

using namespace Qt::StringLiterals;

QString statusName(NodeStatus status)
{
    switch (status) {
    case NodeStatus::online:
        return u"online"_s;
    case NodeStatus::warning:
        return u"warning"_s;
    case NodeStatus::critical:
        return u"critical"_s;
    case NodeStatus::offline:
        return u"offline"_s;
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<NodeStatus> statusFromName(QStringView name)
{
    for (NodeStatus s : {NodeStatus::online, NodeStatus::warning, NodeStatus::critical, NodeStatus::offline})
        if (name == statusName(s)) return s;
    return std::nullopt;
}

size_t qHash(NodeStatus status, size_t seed)
{
    return qHash(statusName(status), seed);
}

} // namespace vantor
