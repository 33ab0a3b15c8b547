// SPDX-License-Identifier: MIT
#pragma once

#include "Hashing.h"
#include "NodeStatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>
#include <variant>

namespace vantor {

struct ServerAlert {
    QUuid id;
    QString severity;
    QString title;
    QString detail;
    QDateTime createdAt;

    bool operator==(const ServerAlert &) const = default;
};

struct HardwareCPU {
    std::optional<qint64> cores;
    std::optional<qint64> threads;
    std::optional<QString> model;
    std::optional<double> temperatureC;

    bool operator==(const HardwareCPU &) const = default;
};

struct HardwareMemory {
    std::optional<double> totalBytes;
    std::optional<double> availableBytes;
    std::optional<double> usedBytes;
    std::optional<double> temperatureC;

    bool operator==(const HardwareMemory &) const = default;
};

struct HardwareDisk {
    std::optional<double> totalBytes;
    std::optional<double> freeBytes;
    std::optional<double> usedBytes;
    std::optional<double> temperatureC;

    bool operator==(const HardwareDisk &) const = default;
};

struct HardwareStorage {
    std::optional<HardwareDisk> root;

    bool operator==(const HardwareStorage &) const = default;
};

struct HardwareSensor {
    std::optional<QString> name;
    std::optional<QString> chip;
    std::optional<double> temperatureC;

    bool operator==(const HardwareSensor &) const = default;
};

struct HardwareSnapshot {
    std::optional<HardwareCPU> cpu;
    std::optional<HardwareMemory> memory;
    std::optional<HardwareStorage> storage;
    std::optional<double> hottestTemperatureC;
    std::optional<HardwareSensor> hottestSensor;

    bool operator==(const HardwareSnapshot &) const = default;
};

struct NetworkAddress {
    QString address;
    QString scope;
    std::optional<QString> interfaceName; // JSON key "interface"

    bool operator==(const NetworkAddress &) const = default;
};

struct NetworkSnapshot {
    std::optional<QString> hostname;
    std::optional<QList<NetworkAddress>> addresses;
    std::optional<QList<QString>> lan;
    std::optional<QList<QString>> tailscale;

    bool operator==(const NetworkSnapshot &) const = default;
};

struct MetricsSnapshot {
    double cpuUsage = 0;
    double memoryUsage = 0;
    double diskUsage = 0;
    double uptimeSeconds = 0;
    double loadAverage = 0;
    qint64 servicesRunning = 0;
    qint64 servicesTotal = 0;
    QList<ServerAlert> alerts;
    QDateTime observedAt;
    std::optional<HardwareSnapshot> hardware;
    std::optional<NetworkSnapshot> network;
    std::optional<QList<ServerAlert>> notices;

    bool operator==(const MetricsSnapshot &) const = default;

    // Health derived from `alerts` alone; never offline.
    NodeStatus status() const;

    // The placeholder reading of a node that has not answered yet: one shared value per run.
    static const MetricsSnapshot &empty();
};

// A new alert made inside the console gets a fresh random id.
ServerAlert makeAlert(QString severity, QString title, QString detail, QDateTime createdAt);

// Decodes one agent reply body, all or nothing. On failure the text names what failed and where.
std::variant<MetricsSnapshot, QString> decodeSnapshot(const QByteArray &body);

size_t qHash(const ServerAlert &v, size_t seed = 0);
size_t qHash(const HardwareCPU &v, size_t seed = 0);
size_t qHash(const HardwareMemory &v, size_t seed = 0);
size_t qHash(const HardwareDisk &v, size_t seed = 0);
size_t qHash(const HardwareStorage &v, size_t seed = 0);
size_t qHash(const HardwareSensor &v, size_t seed = 0);
size_t qHash(const HardwareSnapshot &v, size_t seed = 0);
size_t qHash(const NetworkAddress &v, size_t seed = 0);
size_t qHash(const NetworkSnapshot &v, size_t seed = 0);
size_t qHash(const MetricsSnapshot &v, size_t seed = 0);

} // namespace vantor
