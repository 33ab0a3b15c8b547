// SPDX-License-Identifier: MIT
#include "Snapshot.h"

#include "JsonRead.h"
#include "NodeStatus.h"

namespace vantor {

using namespace Qt::StringLiterals;
using json::Object;
using json::Path;
using json::Reader;

bool readRecord(Reader &r, Object o, const Path &p, ServerAlert &a)
{
    return r.field(o, p, "id", a.id) && r.field(o, p, "severity", a.severity) &&
           r.field(o, p, "title", a.title) && r.field(o, p, "detail", a.detail) &&
           r.field(o, p, "createdAt", a.createdAt);
}

bool readRecord(Reader &r, Object o, const Path &p, HardwareCPU &c)
{
    return r.field(o, p, "cores", c.cores) && r.field(o, p, "threads", c.threads) &&
           r.field(o, p, "model", c.model) && r.field(o, p, "temperatureC", c.temperatureC);
}

bool readRecord(Reader &r, Object o, const Path &p, HardwareMemory &m)
{
    return r.field(o, p, "totalBytes", m.totalBytes) && r.field(o, p, "availableBytes", m.availableBytes) &&
           r.field(o, p, "usedBytes", m.usedBytes) && r.field(o, p, "temperatureC", m.temperatureC);
}

bool readRecord(Reader &r, Object o, const Path &p, HardwareDisk &d)
{
    return r.field(o, p, "totalBytes", d.totalBytes) && r.field(o, p, "freeBytes", d.freeBytes) &&
           r.field(o, p, "usedBytes", d.usedBytes) && r.field(o, p, "temperatureC", d.temperatureC);
}

bool readRecord(Reader &r, Object o, const Path &p, HardwareStorage &s)
{
    return r.field(o, p, "root", s.root);
}

bool readRecord(Reader &r, Object o, const Path &p, HardwareSensor &s)
{
    return r.field(o, p, "name", s.name) && r.field(o, p, "chip", s.chip) &&
           r.field(o, p, "temperatureC", s.temperatureC);
}

bool readRecord(Reader &r, Object o, const Path &p, HardwareSnapshot &h)
{
    return r.field(o, p, "cpu", h.cpu) && r.field(o, p, "memory", h.memory) &&
           r.field(o, p, "storage", h.storage) &&
           r.field(o, p, "hottestTemperatureC", h.hottestTemperatureC) &&
           r.field(o, p, "hottestSensor", h.hottestSensor);
}

bool readRecord(Reader &r, Object o, const Path &p, NetworkAddress &a)
{
    return r.field(o, p, "address", a.address) && r.field(o, p, "scope", a.scope) &&
           r.field(o, p, "interface", a.interfaceName);
}

bool readRecord(Reader &r, Object o, const Path &p, NetworkSnapshot &n)
{
    return r.field(o, p, "hostname", n.hostname) && r.field(o, p, "addresses", n.addresses) &&
           r.field(o, p, "lan", n.lan) && r.field(o, p, "tailscale", n.tailscale);
}

bool readRecord(Reader &r, Object o, const Path &p, MetricsSnapshot &m)
{
    return r.field(o, p, "cpuUsage", m.cpuUsage) && r.field(o, p, "memoryUsage", m.memoryUsage) &&
           r.field(o, p, "diskUsage", m.diskUsage) && r.field(o, p, "uptimeSeconds", m.uptimeSeconds) &&
           r.field(o, p, "loadAverage", m.loadAverage) &&
           r.field(o, p, "servicesRunning", m.servicesRunning) &&
           r.field(o, p, "servicesTotal", m.servicesTotal) && r.field(o, p, "alerts", m.alerts) &&
           r.field(o, p, "observedAt", m.observedAt) && r.field(o, p, "hardware", m.hardware) &&
           r.field(o, p, "network", m.network) && r.field(o, p, "notices", m.notices);
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
