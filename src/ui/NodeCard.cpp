// SPDX-License-Identifier: MIT
#include "NodeCard.h"

#include "ElidedLabel.h"
#include "Icons.h"
#include "MetricRow.h"
#include "StatusDot.h"
#include "Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vantor::ui {

using namespace Qt::StringLiterals;

ColorRole diskColor(double diskUsage)
{
    return diskUsage > 85 ? ColorRole::Orange : ColorRole::Green;
}

NodeCard::NodeCard(QWidget *parent) : CardFrame(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMinimumWidth(10);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(17, 17, 17, 17);
    layout->setSpacing(14);

    auto *header = new QHBoxLayout;
    header->setSpacing(defaultSpacing);
    m_dot = new StatusDot(9, this);
    m_name = elidedLabel(TextStyle::Headline, ColorRole::PrimaryText, QFont::Normal, this);
    m_name->setObjectName(u"name"_s);
    m_status = label({}, TextStyle::Caption, ColorRole::GrayText, QFont::DemiBold, this);
    m_status->setObjectName(u"status"_s);
    header->addWidget(m_dot);
    header->addWidget(m_name);
    header->addStretch(1);
    header->addWidget(m_status);
    layout->addLayout(header);

    m_cpu = new MetricRow(u"CPU"_s, this);
    m_cpu->setObjectName(u"cpu"_s);
    m_cpu->setColor(ColorRole::Blue);
    m_memory = new MetricRow(u"内存"_s, this);
    m_memory->setObjectName(u"memory"_s);
    m_memory->setColor(ColorRole::Purple);
    m_disk = new MetricRow(u"磁盘"_s, this);
    m_disk->setObjectName(u"disk"_s);
    layout->addWidget(m_cpu);
    layout->addWidget(m_memory);
    layout->addWidget(m_disk);

    auto *footer = new QHBoxLayout;
    footer->setSpacing(defaultSpacing);
    auto *rack = new QLabel(this);
    const int rackSize = QFontInfo(ui::font(TextStyle::Caption)).pixelSize() + 1;
    setIcon(rack, u"hdd-rack"_s, ColorRole::SecondaryText, rackSize);
    auto *service = new QHBoxLayout;
    service->setSpacing(4);
    service->addWidget(rack);
    service->addWidget(label(u"服务"_s, TextStyle::Caption, ColorRole::SecondaryText, QFont::Normal, this));
    footer->addLayout(service);
    footer->addStretch(1);
    m_services = elidedLabel(TextStyle::Caption, ColorRole::SecondaryText, QFont::Normal, this);
    m_services->setObjectName(u"services"_s);
    m_services->setFont(monospaced(TextStyle::Caption));
    footer->addWidget(m_services);
    layout->addLayout(footer);

    setRuntime(m_runtime);
}

void NodeCard::setRuntime(const NodeRuntime &runtime)
{
    m_runtime = runtime;
    const MetricsSnapshot &m = runtime.metrics;
    const StatusLook &look = statusLook(runtime.status);
    m_dot->setColor(look.hue);
    m_name->setFullText(runtime.node.name);
    m_status->setText(look.label);
    setLabelColor(m_status, look.text);
    m_cpu->setValue(m.cpuUsage);
    m_memory->setValue(m.memoryUsage);
    m_disk->setValue(m.diskUsage);
    m_disk->setColor(diskColor(m.diskUsage));
    m_services->setFullText(QString::number(m.servicesRunning) + u'/' + QString::number(m.servicesTotal));
    setAccessibleName(m_name->fullText());
    setAccessibleDescription(look.label);
}

} // namespace vantor::ui
