#include "SettingsView.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

namespace vantor::ui {

// Placeholder until the settings sheet lands: a dialog with a close button.
SettingsView::SettingsView(MonitorStore *store, QWidget *parent) : QDialog(parent), m_store(store)
{
    setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(this);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace vantor::ui
