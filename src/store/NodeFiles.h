// SPDX-License-Identifier: MIT
#pragma once

#include "model/ServerNode.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

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

// A node file larger than this is passed over unread, as a reply larger than the reply cap is refused.
constexpr qint64 maxNodeFileBytes = 8 * 1024 * 1024;

// The whole content of the regular file at `path`, or why it was not read: the type and size are
// checked on the opened file before any byte is read, so a FIFO, a device or a folder is never read
// (nor waited on) and a file over `maxBytes` never takes memory.
std::variant<QByteArray, QString> readRegularFile(const QString &path, qint64 maxBytes);

// The first candidate file holding a non-empty list wins; a file passed over is logged, not shown.
QList<ServerNode> loadNodes(const NodeLocations &where, const QList<ServerNode> &fallback);

// Writes the list atomically, readable by its owner only (it holds access tokens). Returns whether
// the file was written; callers that must not report failures ignore it.
bool persist(const NodeLocations &where, const QList<ServerNode> &nodes);

} // namespace vantor
