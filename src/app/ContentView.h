#pragma once

#include "store/NodeFiles.h"

#include <QList>
#include <QStringList>
#include <QWidget>

#include <optional>

class QLabel;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace vantor {

class MonitorStore;
class NodeSidebarRow;
class SidebarButton;
class SidebarEntry;

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
    QWidget *buildSidebar();
    QWidget *buildToolbar();
    void reload();
    void rebuildRows();
    void step(SidebarEntry *from, int delta);

    MonitorStore *m_store;
    std::optional<QString> m_selectedID;
    bool m_showingSettings = false;
    bool m_started = false;

    SidebarButton *m_overviewEntry = nullptr;
    SidebarButton *m_settingsButton = nullptr;
    QVBoxLayout *m_rowsLayout = nullptr;
    QList<NodeSidebarRow *> m_rows;
    QStringList m_rowIds;

    ui::StatusDot *m_sourceDot = nullptr;
    QLabel *m_sourceText = nullptr;
    QToolButton *m_refresh = nullptr;

    QStackedWidget *m_detailStack = nullptr;
    ui::OverviewView *m_overview = nullptr;
    ui::NodeDetailView *m_detail = nullptr;
    ui::SettingsView *m_settings = nullptr;
};

} // namespace vantor
