#include "Snapshot.h"

#include "JsonRead.h"
#include "NodeStatus.h"

#include <QJsonArray>

namespace vantor {

using namespace Qt::StringLiterals;
using json::Path;
using json::Reader;

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, ServerAlert &a)
{
    return r.field(o, p, "id"_L1, a.id) && r.field(o, p, "severity"_L1, a.severity) &&
           r.field(o, p, "title"_L1, a.title) && r.field(o, p, "detail"_L1, a.detail) &&
           r.field(o, p, "createdAt"_L1, a.createdAt);
}

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, HardwareCPU &c)
{
    return r.field(o, p, "cores"_L1, c.cores) && r.field(o, p, "threads"_L1, c.threads) &&
           r.field(o, p, "model"_L1, c.model) && r.field(o, p, "temperatureC"_L1, c.temperatureC);
}

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, HardwareMemory &m)
{
    return r.field(o, p, "totalBytes"_L1, m.totalBytes) &&
           r.field(o, p, "availableBytes"_L1, m.availableBytes) &&
           r.field(o, p, "usedBytes"_L1, m.usedBytes) && r.field(o, p, "temperatureC"_L1, m.temperatureC);
}

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, HardwareDisk &d)
{
    return r.field(o, p, "totalBytes"_L1, d.totalBytes) && r.field(o, p, "freeBytes"_L1, d.freeBytes) &&
           r.field(o, p, "usedBytes"_L1, d.usedBytes) && r.field(o, p, "temperatureC"_L1, d.temperatureC);
}

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, HardwareStorage &s)
{
    return r.field(o, p, "root"_L1, s.root);
}

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, HardwareSensor &s)
{
    return r.field(o, p, "name"_L1, s.name) && r.field(o, p, "chip"_L1, s.chip) &&
           r.field(o, p, "temperatureC"_L1, s.temperatureC);
}

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, HardwareSnapshot &h)
{
    return r.field(o, p, "cpu"_L1, h.cpu) && r.field(o, p, "memory"_L1, h.memory) &&
           r.field(o, p, "storage"_L1, h.storage) &&
           r.field(o, p, "hottestTemperatureC"_L1, h.hottestTemperatureC) &&
           r.field(o, p, "hottestSensor"_L1, h.hottestSensor);
}

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, NetworkAddress &a)
{
    return r.field(o, p, "address"_L1, a.address) && r.field(o, p, "scope"_L1, a.scope) &&
           r.field(o, p, "interface"_L1, a.interfaceName);
}

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, NetworkSnapshot &n)
{
    return r.field(o, p, "hostname"_L1, n.hostname) && r.field(o, p, "addresses"_L1, n.addresses) &&
           r.field(o, p, "lan"_L1, n.lan) && r.field(o, p, "tailscale"_L1, n.tailscale);
}

bool readRecord(Reader &r, const QJsonObject &o, const Path &p, MetricsSnapshot &m)
{
    return r.field(o, p, "cpuUsage"_L1, m.cpuUsage) && r.field(o, p, "memoryUsage"_L1, m.memoryUsage) &&
           r.field(o, p, "diskUsage"_L1, m.diskUsage) && r.field(o, p, "uptimeSeconds"_L1, m.uptimeSeconds) &&
           r.field(o, p, "loadAverage"_L1, m.loadAverage) &&
           r.field(o, p, "servicesRunning"_L1, m.servicesRunning) &&
           r.field(o, p, "servicesTotal"_L1, m.servicesTotal) && r.field(o, p, "alerts"_L1, m.alerts) &&
           r.field(o, p, "observedAt"_L1, m.observedAt) && r.field(o, p, "hardware"_L1, m.hardware) &&
           r.field(o, p, "network"_L1, m.network) && r.field(o, p, "notices"_L1, m.notices);
}

std::variant<MetricsSnapshot, QString> decodeSnapshot(const QByteArray &body)
{
    return json::decodeDocument<MetricsSnapshot>(body);
}

NodeStatus MetricsSnapshot::status() const
{
    const auto has = [this](QStringView severity) {
        return std::any_of(alerts.cbegin(), alerts.cend(),
                           [&](const ServerAlert &a) { return a.severity == severity; });
    };
    if (has(u"critical")) return NodeStatus::critical;
    if (has(u"warning")) return NodeStatus::warning;
    return NodeStatus::online;
}

const MetricsSnapshot &MetricsSnapshot::empty()
{
    static const MetricsSnapshot value = [] {
        MetricsSnapshot m;
        m.observedAt = QDateTime::currentDateTimeUtc();
        return m;
    }();
    return value;
}

ServerAlert makeAlert(QString severity, QString title, QString detail, QDateTime createdAt)
{
    return ServerAlert{QUuid::createUuid(), std::move(severity), std::move(title), std::move(detail),
                       std::move(createdAt)};
}

// Encoding, for tools that print a reading back in the reply format.

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

// Hashing over every field, in declaration order.

size_t qHash(const ServerAlert &v, size_t seed)
{
    return hashFields(seed, v.id, v.severity, v.title, v.detail, v.createdAt);
}
size_t qHash(const HardwareCPU &v, size_t seed)
{
    return hashFields(seed, v.cores, v.threads, v.model, v.temperatureC);
}
size_t qHash(const HardwareMemory &v, size_t seed)
{
    return hashFields(seed, v.totalBytes, v.availableBytes, v.usedBytes, v.temperatureC);
}
size_t qHash(const HardwareDisk &v, size_t seed)
{
    return hashFields(seed, v.totalBytes, v.freeBytes, v.usedBytes, v.temperatureC);
}
size_t qHash(const HardwareStorage &v, size_t seed)
{
    return hashFields(seed, v.root);
}
size_t qHash(const HardwareSensor &v, size_t seed)
{
    return hashFields(seed, v.name, v.chip, v.temperatureC);
}
size_t qHash(const HardwareSnapshot &v, size_t seed)
{
    return hashFields(seed, v.cpu, v.memory, v.storage, v.hottestTemperatureC, v.hottestSensor);
}
size_t qHash(const NetworkAddress &v, size_t seed)
{
    return hashFields(seed, v.address, v.scope, v.interfaceName);
}
size_t qHash(const NetworkSnapshot &v, size_t seed)
{
    return hashFields(seed, v.hostname, v.addresses, v.lan, v.tailscale);
}
size_t qHash(const MetricsSnapshot &v, size_t seed)
{
    return hashFields(seed, v.cpuUsage, v.memoryUsage, v.diskUsage, v.uptimeSeconds, v.loadAverage,
                      v.servicesRunning, v.servicesTotal, v.alerts, v.observedAt, v.hardware, v.network,
                      v.notices);
}

} // namespace vantor
