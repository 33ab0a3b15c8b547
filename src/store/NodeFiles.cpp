// SPDX-License-Identifier: MIT
#include "NodeFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace vantor {

using namespace Qt::StringLiterals;

NodeLocations NodeLocations::standard()
{
    NodeLocations where;
    const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    if (!dirs.isEmpty() && !dirs.first().isEmpty()) where.supportDir = dirs.first();
    if (QCoreApplication::instance()) {
        const QString resource =
            QDir(QCoreApplication::applicationDirPath()).filePath(u"../share/vantor/nodes.json"_s);
        if (QFileInfo::exists(resource)) where.resourceFile = QDir::cleanPath(resource);
    }
    return where;
}

QString NodeLocations::saveFile() const
{
    return supportDir ? QDir(*supportDir).filePath(u"Vantor/config/nodes.json"_s) : QString();
}

QList<ServerNode> defaultNodes()
{
    // Tailscale-style addresses: these are never polled unless the operator runs the console on them.
    return {
        {u"node-1"_s, u"node-1"_s, u"http://100.101.10.1:9100/metrics"_s, QString()},
        {u"node-2"_s, u"node-2"_s, u"http://100.101.10.2:9100/metrics"_s, QString()},
        {u"node-3"_s, u"node-3"_s, u"http://node-3.tailnet.internal:9100/metrics"_s, QString()},
    };
}

namespace {

std::optional<QList<ServerNode>> nodesFrom(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (const auto record = decodeNodeConfigFile(bytes); std::holds_alternative<NodeConfigFile>(record)) {
        const auto &nodes = std::get<NodeConfigFile>(record).nodes;
        if (!nodes.isEmpty()) return nodes;
    }
    if (const auto bare = decodeNodeList(bytes); std::holds_alternative<QList<ServerNode>>(bare)) {
        const auto &nodes = std::get<QList<ServerNode>>(bare);
        if (!nodes.isEmpty()) return nodes;
    }
    return std::nullopt;
}

} // namespace

QList<ServerNode> loadNodes(const NodeLocations &where, const QList<ServerNode> &fallback)
{
    QStringList candidates;
    if (where.supportDir) {
        candidates << QDir(*where.supportDir).filePath(u"004Varnel/config/nodes.json"_s) << where.saveFile();
    }
    if (where.resourceFile) candidates << *where.resourceFile;
    for (const QString &path : candidates)
        if (auto nodes = nodesFrom(path)) return *nodes;
    return fallback;
}

bool persist(const NodeLocations &where, const QList<ServerNode> &nodes)
{
    if (!where.supportDir) return false;
    const QString target = where.saveFile();
    QDir().mkpath(QFileInfo(target).absolutePath()); // a failure shows up when writing

    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) return false;
    // The temporary file gets the owner-only mode before any token is written into it; the
    // rename then carries that mode over whatever mode an earlier file had.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return false;
    }
    // QSaveFile::commit() reports success after a failed flush and then renames a truncated file
    // (seen with Qt 6.4 when the disk or file-size limit is reached), so the flush is checked first.
    const QByteArray bytes = encodeNodeList(nodes);
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace vantor
