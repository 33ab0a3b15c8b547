// SPDX-License-Identifier: MIT
#pragma once

#include "store/NodeFiles.h"

#include <QWidget>

#include <optional>

class QLabel;
class QStackedWidget;
class QToolButton;

namespace vantor {

class MonitorStore;
class Sidebar;

namespace ui {
class NodeDetailView;
class OverviewView;
class SettingsView;
class StatusDot;
} // namespace ui

// The window: a sidebar with the overview entry, one row per node and the settings button, and a
// detail column with the toolbar over the overview or the selected node's page. It owns the
// window's store and starts polling the first time it is shown.
class ContentView : public QWidget
{
    Q_OBJECT
public:
    explicit ContentView(QWidget *parent = nullptr); // node files from the standard locations
    explicit ContentView(const NodeLocations &where, QWidget *parent = nullptr);
    ~ContentView() override;

    MonitorStore *store() const { return m_store; }
    const std::optional<QString> &selectedID() const { return m_selectedID; }
    bool showingSettings() const { return m_showingSettings; }

    // What a click in the sidebar does: absent selects the overview.
    void select(const std::optional<QString> &id);
    void showSettings();
    // Selects the node and brings the window to the front, as a click on its notification asks.
    void reveal(const QString &id);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void build();
    QWidget *buildToolbar();
    void reload();

    MonitorStore *m_store;
    std::optional<QString> m_selectedID;
    bool m_showingSettings = false;
    bool m_started = false;

    Sidebar *m_sidebar = nullptr;

    ui::StatusDot *m_sourceDot = nullptr;
    QLabel *m_sourceText = nullptr;
    QToolButton *m_refresh = nullptr;

    QStackedWidget *m_detailStack = nullptr;
    ui::OverviewView *m_overview = nullptr;
    ui::NodeDetailView *m_detail = nullptr;
    ui::SettingsView *m_settings = nullptr;
};

} // namespace vantor
