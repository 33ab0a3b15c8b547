#include "StoreFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>

namespace vantor::test {

using namespace Qt::StringLiterals;

TempNodeFiles::TempNodeFiles(const QList<ServerNode> &nodes) : TempNodeFiles(encodeNodeList(nodes)) {}

TempNodeFiles::TempNodeFiles(const QByteArray &fileContents)
{
    const QString path = locations().saveFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(fileContents);
}

NodeLocations TempNodeFiles::locations() const
{
    return NodeLocations{m_dir.path(), std::nullopt};
}

QByteArray TempNodeFiles::savedFile() const
{
    QFile file(locations().saveFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

MetricsSnapshot sampleReading(double cpu, const QStringList &severities)
{
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    MetricsSnapshot m;
    m.cpuUsage = cpu;
    m.memoryUsage = 41.5;
    m.diskUsage = 63;
    m.uptimeSeconds = 86400;
    m.loadAverage = 0.75;
    m.servicesRunning = 5;
    m.servicesTotal = 6;
    m.observedAt = at;
    for (const QString &severity : severities)
        m.alerts.append(makeAlert(severity, u"标题"_s, u"说明"_s, at));
    return m;
}

QByteArray replyBody(const MetricsSnapshot &reading)
{
    return QJsonDocument(encodeSnapshot(reading)).toJson(QJsonDocument::Compact);
}

bool waitIdle(const MonitorStore &store, int timeoutMs)
{
    return QTest::qWaitFor([&] { return !store.isRefreshing(); }, timeoutMs);
}

} // namespace vantor::test
