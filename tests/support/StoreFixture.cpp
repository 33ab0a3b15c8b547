// SPDX-License-Identifier: MIT
#include "StoreFixture.h"

#include "model/SnapshotEncoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vantor::test {

using namespace Qt::StringLiterals;

TempNodeFiles::TempNodeFiles(const QByteArray &fileContents)
{
    QFile file(locations().saveFile());
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (file.open(QIODevice::WriteOnly)) file.write(fileContents);
}

QByteArray TempNodeFiles::savedFile() const
{
    QFile file(locations().saveFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

MetricsSnapshot sampleReading(double cpu, const QStringList &severities)
{
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    MetricsSnapshot m{cpu, 41.5, 63, 86400, 0.75, 5, 6, {}, at};
    for (const QString &severity : severities)
        m.alerts.append(makeAlert(severity, u"标题"_s, u"说明"_s, at));
    return m;
}

QByteArray replyBody(const MetricsSnapshot &reading)
{
    return QJsonDocument(encodeSnapshot(reading)).toJson(QJsonDocument::Compact);
}

quint16 refusingPort()
{
    static const quint16 port = [] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        // Deliberately never closed: the port must stay taken until the process ends.
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return quint16(0);
        return ntohs(address.sin_port);
    }();
    return port;
}

bool waitIdle(const MonitorStore &store, int timeoutMs)
{
    return QTest::qWaitFor([&] { return !store.isRefreshing(); }, timeoutMs);
}

} // namespace vantor::test
