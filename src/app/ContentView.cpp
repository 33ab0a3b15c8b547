// SPDX-License-Identifier: MIT
#include "ContentView.h"

#include "Sidebar.h"
#include "store/MonitorStore.h"
#include "ui/Icons.h"
#include "ui/NodeDetailView.h"
#include "ui/OverviewView.h"
#include "ui/SettingsView.h"
#include "ui/StatusDot.h"
#include "ui/StoreObserver.h"
#include "ui/Style.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantor {

using namespace Qt::StringLiterals;
using namespace vantor::ui;

ContentView::ContentView(QWidget *parent) : ContentView(NodeLocations::standard(), parent) {}

ContentView::ContentView(const NodeLocations &where, QWidget *parent)
    : QWidget(parent), m_store(new MonitorStore(where, this))
{
    setWindowTitle(u"Vantor"_s);
    setMinimumSize(1000, 680);
    resize(1180, 760);
    build();
    // Ctrl+Q, as in every Qt application; spelled out, as some platform themes bind nothing to Quit.
    // Only while this window has the focus: over the settings sheet it would throw away the edits.
    auto *quit = new QAction(this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    addAction(quit);
    new StoreObserver(m_store, this, [this] { reload(); });
    reload();
}

ContentView::~ContentView() = default;

void ContentView::build()
{
    auto *split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);

    m_sidebar = new Sidebar(split);
    connect(m_sidebar, &Sidebar::overviewChosen, this, [this] { select(std::nullopt); });
    connect(m_sidebar, &Sidebar::nodeChosen, this, [this](const QString &id) { select(id); });
    connect(m_sidebar, &Sidebar::settingsChosen, this, &ContentView::showSettings);
    split->addWidget(m_sidebar);

    auto *detail = new QWidget(split);
    setBackground(detail, ColorRole::WindowBackground);
    auto *detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    detailLayout->addWidget(buildToolbar());
    detailLayout->addWidget(horizontalDivider(detail));
    m_detailStack = new QStackedWidget(detail);
    m_overview = new OverviewView(m_store, m_detailStack);
    m_overview->setObjectName(u"overview"_s);
    m_detail = new NodeDetailView(m_detailStack);
    m_detail->setObjectName(u"nodeDetail"_s);
    m_detailStack->addWidget(m_overview);
    m_detailStack->addWidget(m_detail);
    detailLayout->addWidget(m_detailStack, 1);
    split->addWidget(detail);

    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({240, 940});
    setBackground(split->handle(1), ColorRole::Separator);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    m_settings = new SettingsView(m_store, this);
    connect(m_settings, &QDialog::finished, this, [this] { m_showingSettings = false; });
}

QWidget *ContentView::buildToolbar()
{
    auto *bar = new QWidget(this);
    bar->setObjectName(u"toolbar"_s);
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(20, 8, 14, 8);
    layout->setSpacing(16);
    layout->addStretch(1);

    auto *source = new QWidget(bar);
    source->setObjectName(u"dataSource"_s);
    auto *sourceLayout = new QHBoxLayout(source);
    sourceLayout->setContentsMargins(0, 0, 0, 0);
    sourceLayout->setSpacing(8);
    m_sourceDot = new StatusDot(8, source);
    m_sourceText = label({}, TextStyle::Caption, ColorRole::PrimaryText, QFont::Normal, source);
    sourceLayout->addWidget(m_sourceDot);
    sourceLayout->addWidget(m_sourceText);
    layout->addWidget(source);

    m_refresh = new QToolButton(bar);
    m_refresh->setObjectName(u"refreshButton"_s);
    m_refresh->setAutoRaise(true);
    m_refresh->setToolTip(u"立即刷新"_s);
    m_refresh->setAccessibleName(u"立即刷新"_s);
    m_refresh->setIconSize(QSize(18, 18));
    m_refresh->setFocusPolicy(Qt::StrongFocus);
    connect(m_refresh, &QToolButton::clicked, this, [this] { m_store->refresh(); });
    layout->addWidget(m_refresh);
    return bar;
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_started) return;
    m_started = true;
    // Polling starts once, on the turn of the event loop after the window first appears.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_store->scheduleTimer();
            m_store->refresh();
        },
        Qt::QueuedConnection);
}

void ContentView::select(const std::optional<QString> &id)
{
    m_selectedID = id;
    reload();
}

void ContentView::reveal(const QString &id)
{
    select(id);
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void ContentView::showSettings()
{
    m_showingSettings = true;
    m_settings->open();
}

void ContentView::reload()
{
    const QList<NodeRuntime> &nodes = m_store->nodes();
    m_sidebar->setNodes(nodes, m_selectedID);

    // The first runtime with the selected id, in list order.
    const NodeRuntime *selected = nullptr;
    if (m_selectedID) {
        for (const NodeRuntime &runtime : nodes) {
            if (runtime.id() == *m_selectedID) {
                selected = &runtime;
                break;
            }
        }
    }
    if (selected) {
        m_detail->setRuntime(*selected);
        m_detailStack->setCurrentWidget(m_detail);
    } else {
        m_detailStack->setCurrentWidget(m_overview);
    }

    const bool demo = m_store->demoMode();
    m_sourceDot->setColor(demo ? ColorRole::Orange : ColorRole::Green);
    m_sourceText->setText(demo ? u"演示数据"_s : u"实时采集"_s);
    m_sourceDot->parentWidget()->setAccessibleName(u"数据来源："_s + m_sourceText->text());

    const QString iconName = m_store->isRefreshing() ? u"arrow-repeat"_s : u"arrow-clockwise"_s;
    if (m_refresh->property("iconName").toString() != iconName) {
        setIcon(m_refresh, iconName, ColorRole::PrimaryText);
        m_refresh->setProperty("iconName", iconName);
    }
}

} // namespace vantor
