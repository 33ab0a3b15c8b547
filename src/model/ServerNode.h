// SPDX-License-Identifier: MIT
#pragma once

#include "Hashing.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace vantor {

struct ServerNode {
    QString id;
    QString name;
    QString address;
    QString token;

    bool operator==(const ServerNode &) const = default;
};

size_t qHash(const ServerNode &v, size_t seed = 0);

// The record form of a node file: {"refresh_interval": 30, "nodes": [...]}.
struct NodeConfigFile {
    std::optional<double> refreshInterval; // JSON key "refresh_interval"; read but never used
    QList<ServerNode> nodes;

    bool operator==(const NodeConfigFile &) const = default;
};

// Each gives the decoded value or the reader's description of the failure.
std::variant<NodeConfigFile, QString> decodeNodeConfigFile(const QByteArray &bytes);
std::variant<QList<ServerNode>, QString> decodeNodeList(const QByteArray &bytes);

// A bare array of node objects, pretty-printed, keys ascending ("address", "id", "name", "token").
QByteArray encodeNodeList(const QList<ServerNode> &nodes);

} // namespace vantor
