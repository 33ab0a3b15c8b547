// SPDX-License-Identifier: MIT
#include "NodeFiles.h"

#include "Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Closes the descriptor on every way out.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QString notRegular(mode_t mode)
{
    if (S_ISDIR(mode)) return u"is a folder, not a file"_s;
    if (S_ISFIFO(mode)) return u"is a FIFO (named pipe), not a regular file"_s;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return u"is a device, not a regular file"_s;
    if (S_ISSOCK(mode)) return u"is a socket, not a regular file"_s;
    return u"is not a regular file"_s;
}

QString tooLarge(qint64 maxBytes)
{
    return u"larger than "_s + QString::number(maxBytes) + u" bytes"_s;
}

// Either the nodes of a file in record form or bare form, or why it gave none. The first character
// tells the forms apart, so the text is decoded once.
std::variant<QList<ServerNode>, QString> decodeNodes(const QByteArray &bytes)
{
    qsizetype at = 0;
    while (at < bytes.size() &&
           (bytes[at] == ' ' || bytes[at] == '\t' || bytes[at] == '\r' || bytes[at] == '\n'))
        ++at;
    QList<ServerNode> nodes;
    if (at < bytes.size() && bytes[at] == '{') {
        auto record = decodeNodeConfigFile(bytes);
        if (auto *error = std::get_if<QString>(&record)) return *error;
        nodes = std::get<NodeConfigFile>(std::move(record)).nodes;
    } else {
        auto bare = decodeNodeList(bytes);
        if (auto *error = std::get_if<QString>(&bare)) return *error;
        nodes = std::get<QList<ServerNode>>(std::move(bare));
    }
    if (nodes.isEmpty()) return u"holds no nodes"_s;
    return nodes;
}

std::optional<QList<ServerNode>> nodesFrom(const QString &path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        qCDebug(lcNodes, "no node file at %s", qUtf8Printable(path));
        return std::nullopt;
    }
    auto read = readRegularFile(path, maxNodeFileBytes);
    if (auto *why = std::get_if<QString>(&read)) {
        qCWarning(lcNodes, "passed over node file %s: %s", qUtf8Printable(path), qUtf8Printable(*why));
        return std::nullopt;
    }
    auto decoded = decodeNodes(std::get<QByteArray>(read));
    if (auto *why = std::get_if<QString>(&decoded)) {
        qCWarning(lcNodes, "passed over node file %s: %s", qUtf8Printable(path), qUtf8Printable(*why));
        return std::nullopt;
    }
    qCDebug(lcNodes, "nodes read from %s", qUtf8Printable(path));
    return std::get<QList<ServerNode>>(std::move(decoded));
}

} // namespace

std::variant<QByteArray, QString> readRegularFile(const QString &path, qint64 maxBytes)
{
    // Without O_NONBLOCK, opening a FIFO waits for a writer; the type is then checked on the opened
    // file itself, so it cannot be swapped between the check and the read.
    const FileDescriptor fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return systemError(errno);
    struct stat info {
    };
    if (::fstat(fd.get(), &info) != 0) return systemError(errno);
    if (!S_ISREG(info.st_mode)) return notRegular(info.st_mode);
    if (info.st_size > maxBytes) return tooLarge(maxBytes);

    // The file may grow after the check: read at most one byte past the limit.
    QByteArray bytes;
    bytes.reserve(qsizetype(info.st_size));
    char buffer[64 * 1024];
    while (bytes.size() <= maxBytes) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return systemError(errno);
        if (got == 0) break;
        bytes.append(buffer, qsizetype(got));
    }
    if (bytes.size() > maxBytes) return tooLarge(maxBytes);
    return bytes;
}

QList<ServerNode> loadNodes(const NodeLocations &where, const QList<ServerNode> &fallback)
{
    QStringList candidates;
    if (where.supportDir) {
        candidates << QDir(*where.supportDir).filePath(u"004Varnel/config/nodes.json"_s) << where.saveFile();
    }
    if (where.resourceFile) candidates << *where.resourceFile;
    for (const QString &path : candidates)
        if (auto nodes = nodesFrom(path)) return *nodes;
    qCInfo(lcNodes, "no node file holds any node; watching the built-in list");
    return fallback;
}

bool persist(const NodeLocations &where, const QList<ServerNode> &nodes)
{
    if (!where.supportDir) {
        qCWarning(lcStore, "node list not saved: there is no per-user data folder");
        return false;
    }
    const QString target = where.saveFile();
    QDir().mkpath(QFileInfo(target).absolutePath()); // a failure shows up when writing

    QSaveFile file(target);
    const auto failed = [&] {
        qCWarning(lcStore, "node list not saved to %s: %s", qUtf8Printable(target),
                  qUtf8Printable(file.errorString()));
        if (file.isOpen()) file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly)) return failed();
    // The temporary file gets the owner-only mode before any token is written into it; the
    // rename then carries that mode over whatever mode an earlier file had.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) return failed();
    // QSaveFile::commit() reports success after a failed flush and then renames a truncated file
    // (seen with Qt 6.4 when the disk or file-size limit is reached), so the flush is checked first.
    const QByteArray bytes = encodeNodeList(nodes);
    if (file.write(bytes) != bytes.size() || !file.flush()) return failed();
    if (!file.commit()) return failed();
    return true;
}

} // namespace vantor
