// SPDX-License-Identifier: MIT
#include "NodeDetailView.h"

#include "AlertList.h"
#include "DetailMetric.h"
#include "ElidedLabel.h"
#include "Format.h"
#include "Icons.h"
#include "InfoCard.h"
#include "Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace vantor::ui {

using namespace Qt::StringLiterals;

namespace {

QString servicesText(const MetricsSnapshot &m)
{
    return QString::number(m.servicesRunning) + u'/' + QString::number(m.servicesTotal);
}

QHBoxLayout *equalRow(std::initializer_list<QWidget *> items)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    for (QWidget *item : items)
        row->addWidget(item, 1, Qt::AlignVCenter);
    return row;
}

} // namespace

NodeDetailView::NodeDetailView(QWidget *parent) : QWidget(parent)
{
    const MetricsSnapshot &m = m_runtime.metrics;
    m_cpu = new DetailMetric(u"CPU 使用率"_s, m.cpuUsage, ColorRole::Blue);
    m_memory = new DetailMetric(u"内存使用率"_s, m.memoryUsage, ColorRole::Purple);
    m_disk = new DetailMetric(u"磁盘使用率"_s, m.diskUsage, ColorRole::Green);
    m_load = new InfoCard(u"系统负载"_s, fixedTwoDecimals(m.loadAverage), u"1 分钟平均"_s);
    m_uptime = new InfoCard(u"运行时长"_s, uptimeText(m.uptimeSeconds), u"自上次启动"_s);
    m_services = new InfoCard(u"服务状态"_s, servicesText(m), u"已运行 / 总数"_s);
    m_cpu->setObjectName(u"cpu"_s);
    m_memory->setObjectName(u"memory"_s);
    m_disk->setObjectName(u"disk"_s);
    m_load->setObjectName(u"load"_s);
    m_uptime->setObjectName(u"uptime"_s);
    m_services->setObjectName(u"services"_s);

    m_alerts = new AlertList;
    m_alerts->setObjectName(u"alerts"_s);

    auto *page = new QWidget;
    page->setBackgroundRole(QPalette::Window);
    page->setAutoFillBackground(true);
    auto *stack = new QVBoxLayout(page);
    stack->setContentsMargins(28, 28, 28, 28);
    stack->setSpacing(22);
    stack->addWidget(makeHeader());
    stack->addLayout(equalRow({m_cpu, m_memory, m_disk}));
    stack->addLayout(equalRow({m_load, m_uptime, m_services}));
    stack->addWidget(label(u"节点告警"_s, TextStyle::Title2, ColorRole::PrimaryText, QFont::Bold));
    stack->addWidget(m_alerts);
    stack->addStretch(1);

    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(page);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    setRuntime(m_runtime);
}

QWidget *NodeDetailView::makeHeader()
{
    // Name and address give way to the status label: they end in "…" when the row is too narrow.
    m_name = elidedLabel(TextStyle::LargeTitle, ColorRole::PrimaryText, QFont::Bold);
    m_name->setObjectName(u"name"_s);
    m_address = elidedLabel(TextStyle::Caption, ColorRole::SecondaryText);
    m_address->setObjectName(u"address"_s);
    m_address->setFont(monospaced(TextStyle::Caption));
    m_statusIcon = new QLabel;
    m_status = label(QString(), TextStyle::Body);
    m_status->setObjectName(u"status"_s);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(5);
    titles->addWidget(m_name);
    titles->addWidget(m_address);

    auto *header = new QWidget;
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->addLayout(titles);
    row->addStretch(1);
    row->addWidget(m_statusIcon, 0, Qt::AlignVCenter);
    row->addSpacing(2);
    row->addWidget(m_status, 0, Qt::AlignVCenter);
    return header;
}

void NodeDetailView::showStatus(NodeStatus status)
{
    const StatusLook &look = statusLook(status);
    m_status->setText(look.label);
    setLabelColor(m_status, look.text);
    // The dot sits at the size of the text's capitals, like a symbol drawn inline.
    const int size = QFontMetrics(m_status->font()).capHeight() + 2;
    setIcon(m_statusIcon, u"circle-fill"_s, look.hue, size);
}

void NodeDetailView::setRuntime(const NodeRuntime &runtime)
{
    m_runtime = runtime;
    const MetricsSnapshot &m = runtime.metrics;
    m_name->setFullText(runtime.node.name);
    m_address->setFullText(runtime.node.address);
    showStatus(runtime.status);
    m_cpu->setValue(m.cpuUsage);
    m_memory->setValue(m.memoryUsage);
    m_disk->setValue(m.diskUsage);
    m_load->setValue(fixedTwoDecimals(m.loadAverage));
    m_uptime->setValue(uptimeText(m.uptimeSeconds));
    m_services->setValue(servicesText(m));
    m_alerts->setNodes({runtime});
}

} // namespace vantor::ui
