// SPDX-License-Identifier: MIT
#pragma once

#include "model/ServerNode.h"

#include <QList>
#include <QString>

#include <optional>

namespace vantor {

// Where node files are looked for. Injectable so that tests never touch the real home folder.
struct NodeLocations {
    std::optional<QString> supportDir;   // per-user data directory; absent when the platform has none
    std::optional<QString> resourceFile; // nodes.json shipped with the application, if any

    // $XDG_DATA_HOME (or ~/.local/share) and <prefix>/share/vantor/nodes.json beside the program.
    static NodeLocations standard();

    QString saveFile() const; // <supportDir>/Vantor/config/nodes.json; empty without a support directory
};

// The three servers used when no file yields any node.
QList<ServerNode> defaultNodes();

// The first candidate file holding a non-empty list wins; every failure is passed over in silence.
QList<ServerNode> loadNodes(const NodeLocations &where, const QList<ServerNode> &fallback);

// Writes the list atomically, readable by its owner only (it holds access tokens). Returns whether
// the file was written; callers that must not report failures ignore it.
bool persist(const NodeLocations &where, const QList<ServerNode> &nodes);

} // namespace vantor
