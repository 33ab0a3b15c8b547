// SPDX-License-Identifier: MIT
#pragma once

#include "SidebarEntry.h"
#include "model/NodeRuntime.h"

class QLabel;

namespace vantor {

namespace ui {
class ElidedLabel;
class StatusDot;
} // namespace ui

// One server in the sidebar: status dot, name, status label and CPU usage. The sidebar connects
// clicked() to its selection; the row itself only shows `runtime` and `isSelected`.
class NodeSidebarRow : public SidebarEntry
{
    Q_OBJECT
public:
    explicit NodeSidebarRow(QWidget *parent = nullptr);

    void setRuntime(const NodeRuntime &runtime);
    const NodeRuntime &runtime() const { return m_runtime; }

    // What the row shows, for tests and assistive technology.
    QString statusText() const;
    QString cpuText() const;
    QColor dotColor() const;

private:
    NodeRuntime m_runtime;
    ui::StatusDot *m_dot;
    ui::ElidedLabel *m_name;
    QLabel *m_status;
    ui::ElidedLabel *m_cpu;
};

} // namespace vantor
