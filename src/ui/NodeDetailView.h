#pragma once

#include "model/NodeStatus.h"

#include <QWidget>

namespace vantor::ui {

// One node's page: header, usage tiles, information cards and its alerts.
// setRuntime() updates the widgets in place, so scroll position survives a refresh.
class NodeDetailView : public QWidget
{
    Q_OBJECT
public:
    explicit NodeDetailView(QWidget *parent = nullptr);
    void setRuntime(const NodeRuntime &runtime);

private:
    NodeRuntime m_runtime;
};

} // namespace vantor::ui
