// SPDX-License-Identifier: MIT
#pragma once

#include "model/NodeRuntime.h"

#include <QList>
#include <QStringList>
#include <QWidget>

#include <optional>

class QScrollArea;
class QVBoxLayout;

namespace vantor {

class NodeSidebarRow;
class SidebarButton;
class SidebarEntry;

// The window's left column: the console's name, the overview entry, one row per node and the
// settings button at the bottom. It only shows what it is given and reports clicks; the window
// owns the selection.
class Sidebar : public QWidget
{
    Q_OBJECT
public:
    explicit Sidebar(QWidget *parent = nullptr);

    // One row per node in list order; the row whose id equals `selectedID` is highlighted, and the
    // overview entry is selected while `selectedID` is absent.
    void setNodes(const QList<NodeRuntime> &nodes, const std::optional<QString> &selectedID);
    const QList<NodeSidebarRow *> &rows() const { return m_rows; }

Q_SIGNALS:
    void overviewChosen();
    void nodeChosen(const QString &id);
    void settingsChosen();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuildRows(const QStringList &ids);
    void step(SidebarEntry *from, int delta);

    SidebarButton *m_overviewEntry;
    SidebarButton *m_settingsButton;
    QScrollArea *m_scroll;
    QVBoxLayout *m_rowsLayout;
    QList<NodeSidebarRow *> m_rows;
    QStringList m_rowIds;
};

} // namespace vantor
