// SPDX-License-Identifier: MIT
#pragma once

#include "model/ServerNode.h"

#include <QDialog>

#include <variant>

class QCheckBox;
class QLabel;
class QPlainTextEdit;

namespace vantor {
class MonitorStore;
}

namespace vantor::ui {

// The sheet's check of its text: UTF-8 encodable, a JSON array of complete node objects, exactly
// three of them. Gives the nodes or the message for the error line.
std::variant<QList<ServerNode>, QString> parseSettingsText(const QString &text);

// The settings sheet: demo-mode toggle and the node list as JSON text. Window-modal; it reloads
// from the store each time it is shown and hands a valid list to MonitorStore::apply on save.
class SettingsView : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsView(MonitorStore *store, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void load();
    void save();
    void showError(const QString &message);
    void hideError();
    void fitHeight();

    MonitorStore *m_store;
    QCheckBox *m_demoMode = nullptr;
    QPlainTextEdit *m_editor = nullptr;
    QLabel *m_error = nullptr;
};

} // namespace vantor::ui
