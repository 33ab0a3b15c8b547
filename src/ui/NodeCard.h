// SPDX-License-Identifier: MIT
#pragma once

#include "CardFrame.h"
#include "Style.h"
#include "model/NodeRuntime.h"

class QLabel;

namespace vantor::ui {

class ElidedLabel;
class MetricRow;
class StatusDot;

// The disk bar turns orange only above 85 %.
ColorRole diskColor(double diskUsage);

// One server on the overview: status, CPU / memory / disk bars and its service count.
class NodeCard : public CardFrame
{
    Q_OBJECT
public:
    explicit NodeCard(QWidget *parent = nullptr);

    void setRuntime(const NodeRuntime &runtime);
    const NodeRuntime &runtime() const { return m_runtime; }

private:
    NodeRuntime m_runtime;
    StatusDot *m_dot;
    ElidedLabel *m_name;
    QLabel *m_status;
    MetricRow *m_cpu;
    MetricRow *m_memory;
    MetricRow *m_disk;
    ElidedLabel *m_services;
};

} // namespace vantor::ui
