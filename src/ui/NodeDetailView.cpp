#include "NodeDetailView.h"

namespace vantor::ui {

// Placeholder until the detail page lands.
NodeDetailView::NodeDetailView(QWidget *parent) : QWidget(parent) {}

void NodeDetailView::setRuntime(const NodeRuntime &runtime)
{
    m_runtime = runtime;
}

} // namespace vantor::ui
