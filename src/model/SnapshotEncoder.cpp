// SPDX-License-Identifier: MIT
#include "SnapshotEncoder.h"

#include <QJsonArray>

namespace vantor {

using namespace Qt::StringLiterals;

namespace {

QJsonValue toJson(double v)
{
    return v;
}
QJsonValue toJson(qint64 v)
{
    return v;
}
QJsonValue toJson(const QString &v)
{
    return v;
}
QJsonValue toJson(const QDateTime &v)
{
    return v.toUTC().toString(Qt::ISODateWithMs);
}
QJsonValue toJson(const QUuid &v)
{
    return v.toString(QUuid::WithoutBraces);
}
QJsonValue toJson(const ServerAlert &a);
QJsonValue toJson(const HardwareCPU &c);
QJsonValue toJson(const HardwareMemory &m);
QJsonValue toJson(const HardwareDisk &d);
QJsonValue toJson(const HardwareStorage &s);
QJsonValue toJson(const HardwareSensor &s);
QJsonValue toJson(const HardwareSnapshot &h);
QJsonValue toJson(const NetworkAddress &a);
QJsonValue toJson(const NetworkSnapshot &n);

template<class T> QJsonValue toJson(const QList<T> &list)
{
    QJsonArray array;
    for (const T &item : list)
        array.append(toJson(item));
    return array;
}

// Builds one object; absent optionals leave their key out.
struct Obj {
    QJsonObject o;
    template<class T> Obj &operator()(QLatin1StringView key, const T &v)
    {
        o.insert(key, toJson(v));
        return *this;
    }
    template<class T> Obj &operator()(QLatin1StringView key, const std::optional<T> &v)
    {
        if (v) o.insert(key, toJson(*v));
        return *this;
    }
};

QJsonValue toJson(const ServerAlert &a)
{
    return Obj()("id"_L1, a.id)("severity"_L1, a.severity)("title"_L1, a.title)("detail"_L1, a.detail)(
               "createdAt"_L1, a.createdAt)
        .o;
}
QJsonValue toJson(const HardwareCPU &c)
{
    return Obj()("cores"_L1, c.cores)("threads"_L1, c.threads)("model"_L1, c.model)("temperatureC"_L1,
                                                                                    c.temperatureC)
        .o;
}
QJsonValue toJson(const HardwareMemory &m)
{
    return Obj()("totalBytes"_L1, m.totalBytes)("availableBytes"_L1, m.availableBytes)(
               "usedBytes"_L1, m.usedBytes)("temperatureC"_L1, m.temperatureC)
        .o;
}
QJsonValue toJson(const HardwareDisk &d)
{
    return Obj()("totalBytes"_L1, d.totalBytes)("freeBytes"_L1, d.freeBytes)("usedBytes"_L1, d.usedBytes)(
               "temperatureC"_L1, d.temperatureC)
        .o;
}
QJsonValue toJson(const HardwareStorage &s)
{
    return Obj()("root"_L1, s.root).o;
}
QJsonValue toJson(const HardwareSensor &s)
{
    return Obj()("name"_L1, s.name)("chip"_L1, s.chip)("temperatureC"_L1, s.temperatureC).o;
}
QJsonValue toJson(const HardwareSnapshot &h)
{
    return Obj()("cpu"_L1, h.cpu)("memory"_L1, h.memory)("storage"_L1, h.storage)(
               "hottestTemperatureC"_L1, h.hottestTemperatureC)("hottestSensor"_L1, h.hottestSensor)
        .o;
}
QJsonValue toJson(const NetworkAddress &a)
{
    return Obj()("address"_L1, a.address)("scope"_L1, a.scope)("interface"_L1, a.interfaceName).o;
}
QJsonValue toJson(const NetworkSnapshot &n)
{
    return Obj()("hostname"_L1, n.hostname)("addresses"_L1, n.addresses)("lan"_L1, n.lan)("tailscale"_L1,
                                                                                          n.tailscale)
        .o;
}

} // namespace

QJsonObject encodeSnapshot(const MetricsSnapshot &m)
{
    return Obj()("cpuUsage"_L1, m.cpuUsage)("memoryUsage"_L1, m.memoryUsage)("diskUsage"_L1, m.diskUsage)(
               "uptimeSeconds"_L1, m.uptimeSeconds)("loadAverage"_L1, m.loadAverage)("servicesRunning"_L1,
                                                                                     m.servicesRunning)(
               "servicesTotal"_L1, m.servicesTotal)("alerts"_L1, m.alerts)("observedAt"_L1, m.observedAt)(
               "hardware"_L1, m.hardware)("network"_L1, m.network)("notices"_L1, m.notices)
        .o;
}

} // namespace vantor
