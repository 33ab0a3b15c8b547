// SPDX-License-Identifier: MIT
#include "StoreFixture.h"

#include "model/SnapshotEncoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTest>
#include <QTimeZone>

namespace vantor::test {

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
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1700000000, QTimeZone::utc());
    MetricsSnapshot m{cpu, 41.5, 63, 86400, 0.75, 5, 6, {}, at};
    for (const QString &severity : severities)
        m.alerts.append(makeAlert(severity, QStringLiteral("标题"), QStringLiteral("说明"), at));
    return m;
}

QByteArray replyBody(const MetricsSnapshot &reading)
{
    return QJsonDocument(encodeSnapshot(reading)).toJson(QJsonDocument::Compact);
}

quint16 refusingPort()
{
    // Bound but never listening, and never closed: the port stays taken until the process ends.
    static auto *socket = new QTcpSocket;
    static const bool bound = socket->bind(QHostAddress::LocalHost);
    return bound ? socket->localPort() : 0;
}

bool waitIdle(const MonitorStore &store, int timeoutMs)
{
    return QTest::qWaitFor([&] { return !store.isRefreshing(); }, timeoutMs);
}

} // namespace vantor::test
