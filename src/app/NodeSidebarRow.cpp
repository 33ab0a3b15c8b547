// SPDX-License-Identifier: MIT
#include "NodeSidebarRow.h"

#include "ui/ElidedLabel.h"
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
    m_name = elidedLabel(TextStyle::Subheadline, ColorRole::PrimaryText, QFont::Medium, this);
    m_name->setObjectName(u"name"_s);
    m_status = label({}, TextStyle::Caption, ColorRole::SecondaryText, QFont::Normal, this);
    texts->addWidget(m_name);
    texts->addWidget(m_status);
    layout->addLayout(texts);
    layout->addStretch(1);

    // A long name gives way; the CPU figure keeps the room of "100%".
    m_cpu = elidedLabel(TextStyle::Caption, ColorRole::SecondaryText, QFont::Normal, this);
    m_cpu->setFont(monospaced(TextStyle::Caption));
    m_cpu->setMinimumText(u"100%"_s);
    layout->addWidget(m_cpu);

    setRuntime(m_runtime);
}

void NodeSidebarRow::setRuntime(const NodeRuntime &runtime)
{
    m_runtime = runtime;
    m_dot->setColor(statusLook(runtime.status).hue);
    m_name->setFullText(runtime.node.name);
    m_status->setText(statusLook(runtime.status).label);
    m_cpu->setFullText(percentText(runtime.metrics.cpuUsage));
    setText(m_name->fullText());
    setAccessibleName(m_name->fullText());
    setAccessibleDescription(m_status->text() + u"，CPU "_s + m_cpu->fullText());
}

QString NodeSidebarRow::statusText() const
{
    return m_status->text();
}

QString NodeSidebarRow::cpuText() const
{
    return m_cpu->fullText();
}

QColor NodeSidebarRow::dotColor() const
{
    return m_dot->color();
}

} // namespace vantor
