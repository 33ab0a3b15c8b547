#include "NodeSidebarRow.h"

#include "ui/Format.h"
#include "ui/StatusDot.h"
#include "ui/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vantor {

using namespace Qt::StringLiterals;
using namespace vantor::ui;

NodeSidebarRow::NodeSidebarRow(QWidget *parent) : SidebarEntry(true, parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 7, 8, 7);
    layout->setSpacing(9);

    m_dot = new StatusDot(8, this);
    layout->addWidget(m_dot);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_name = label({}, TextStyle::Subheadline, color::primaryText(), QFont::Medium, this);
    m_status = label({}, TextStyle::Caption, color::secondaryText(), QFont::Normal, this);
    texts->addWidget(m_name);
    texts->addWidget(m_status);
    layout->addLayout(texts);
    layout->addStretch(1);

    m_cpu = label({}, TextStyle::Caption, color::secondaryText(), QFont::Normal, this);
    m_cpu->setFont(monospaced(TextStyle::Caption));
    layout->addWidget(m_cpu);

    setRuntime(m_runtime);
}

void NodeSidebarRow::setRuntime(const NodeRuntime &runtime)
{
    m_runtime = runtime;
    m_dot->setColor(statusColor(runtime.status));
    m_name->setText(runtime.node.name);
    m_status->setText(statusLabel(runtime.status));
    m_cpu->setText(percentText(runtime.metrics.cpuUsage));
    setText(runtime.node.name);
    setAccessibleName(runtime.node.name);
    setAccessibleDescription(m_status->text() + u"，CPU "_s + m_cpu->text());
}

QString NodeSidebarRow::statusText() const
{
    return m_status->text();
}

QString NodeSidebarRow::cpuText() const
{
    return m_cpu->text();
}

QColor NodeSidebarRow::dotColor() const
{
    return m_dot->color();
}

} // namespace vantor
