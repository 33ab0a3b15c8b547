#pragma once

#include <QDialog>

namespace vantor {
class MonitorStore;
}

namespace vantor::ui {

// The settings sheet: demo-mode toggle and the node list as JSON text. Window-modal; it reloads
// from the store each time it is shown and hands a valid list to MonitorStore::apply on save.
class SettingsView : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsView(MonitorStore *store, QWidget *parent = nullptr);

private:
    MonitorStore *m_store;
};

} // namespace vantor::ui
