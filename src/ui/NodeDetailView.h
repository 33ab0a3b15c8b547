// SPDX-License-Identifier: MIT
#pragma once

#include "model/NodeRuntime.h"

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace vantor::ui {

class AlertList;
class DetailMetric;
class ElidedLabel;
class InfoCard;

// One node's page: header, usage tiles, information cards and its alerts.
// setRuntime() updates the widgets in place, so scroll position survives a refresh.
class NodeDetailView : public QWidget
{
    Q_OBJECT
public:
    explicit NodeDetailView(QWidget *parent = nullptr);
    void setRuntime(const NodeRuntime &runtime);

private:
    QWidget *makeHeader();
    void showStatus(NodeStatus status);

    NodeRuntime m_runtime;
    ElidedLabel *m_name = nullptr;
    ElidedLabel *m_address = nullptr;
    QLabel *m_statusIcon = nullptr;
    QLabel *m_status = nullptr;
    DetailMetric *m_cpu = nullptr;
    DetailMetric *m_memory = nullptr;
    DetailMetric *m_disk = nullptr;
    InfoCard *m_load = nullptr;
    InfoCard *m_uptime = nullptr;
    InfoCard *m_services = nullptr;
    AlertList *m_alerts = nullptr;
};

} // namespace vantor::ui
