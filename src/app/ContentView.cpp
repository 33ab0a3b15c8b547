#include "ContentView.h"

#include "NodeSidebarRow.h"
#include "SidebarEntry.h"
#include "store/MonitorStore.h"
#include "ui/NodeDetailView.h"
#include "ui/OverviewView.h"
#include "ui/SettingsView.h"
#include "ui/StatusDot.h"
#include "ui/StoreObserver.h"
#include "ui/Style.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantor {

using namespace Qt::StringLiterals;
using namespace vantor::ui;

namespace {

QFrame *horizontalDivider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(1);
    line->setFixedHeight(1);
    QPalette p = line->palette();
    p.setColor(QPalette::WindowText, color::divider());
    line->setPalette(p);
    return line;
}

void fillBackground(QWidget *widget, const QColor &fill)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, fill);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

} // namespace

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

    QWidget *sidebar = buildSidebar();
    split->addWidget(sidebar);

    auto *detail = new QWidget(split);
    fillBackground(detail, color::windowBackground());
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
    fillBackground(split->handle(1), color::separator());

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    m_settings = new SettingsView(m_store, this);
    connect(m_settings, &QDialog::finished, this, [this] { m_showingSettings = false; });
}

QWidget *ContentView::buildSidebar()
{
    auto *sidebar = new QWidget(this);
    sidebar->setObjectName(u"sidebar"_s);
    sidebar->setMinimumWidth(220);
    fillBackground(sidebar, color::sidebarBackground());

    auto *layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(18);

    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    auto *mark = new QLabel(sidebar);
    const int markSize = QFontInfo(ui::font(TextStyle::Title2, QFont::Bold)).pixelSize() + 2;
    mark->setPixmap(iconPixmap(u"activity"_s, color::blue(), markSize, devicePixelRatioF()));
    header->addWidget(mark);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(
        label(u"服务器监控"_s, TextStyle::Headline, color::primaryText(), QFont::Normal, sidebar));
    titles->addWidget(
        label(u"MacBook 控制台"_s, TextStyle::Caption, color::secondaryText(), QFont::Normal, sidebar));
    header->addLayout(titles);
    header->addStretch(1);
    layout->addLayout(header);

    layout->addWidget(horizontalDivider(sidebar));

    m_overviewEntry = new SidebarButton(SidebarButton::Selectable, u"grid-1x2"_s, u"总览"_s, sidebar);
    m_overviewEntry->setObjectName(u"overviewEntry"_s);
    connect(m_overviewEntry, &SidebarEntry::clicked, this, [this] { select(std::nullopt); });
    connect(m_overviewEntry, &SidebarEntry::stepRequested, this,
            [this](int delta) { step(m_overviewEntry, delta); });
    layout->addWidget(m_overviewEntry);

    layout->addSpacing(6);
    layout->addWidget(label(u"节点"_s, TextStyle::Caption, color::secondaryText(), QFont::Normal, sidebar));

    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setSpacing(18);
    layout->addLayout(m_rowsLayout);

    layout->addStretch(1);

    m_settingsButton = new SidebarButton(SidebarButton::Plain, u"sliders"_s, u"连接设置"_s, sidebar);
    m_settingsButton->setObjectName(u"settingsButton"_s);
    connect(m_settingsButton, &SidebarEntry::clicked, this, &ContentView::showSettings);
    connect(m_settingsButton, &SidebarEntry::stepRequested, this,
            [this](int delta) { step(m_settingsButton, delta); });
    layout->addWidget(m_settingsButton);
    return sidebar;
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
    m_sourceText = label({}, TextStyle::Caption, color::primaryText(), QFont::Normal, source);
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
    rebuildRows();

    const NodeRuntime *selected = nullptr;
    for (qsizetype i = 0; i < nodes.size(); ++i) {
        const bool isSelected = m_selectedID && *m_selectedID == nodes[i].id();
        m_rows[i]->setRuntime(nodes[i]);
        m_rows[i]->setSelected(isSelected);
        if (isSelected && !selected) selected = &nodes[i];
    }
    m_overviewEntry->setSelected(!m_selectedID);

    if (selected) {
        m_detail->setRuntime(*selected);
        m_detailStack->setCurrentWidget(m_detail);
    } else {
        m_detailStack->setCurrentWidget(m_overview);
    }

    const bool demo = m_store->demoMode();
    m_sourceDot->setColor(demo ? color::orange() : color::green());
    m_sourceText->setText(demo ? u"演示数据"_s : u"实时采集"_s);
    m_sourceDot->parentWidget()->setAccessibleName(u"数据来源："_s + m_sourceText->text());

    const QString iconName = m_store->isRefreshing() ? u"arrow-repeat"_s : u"arrow-clockwise"_s;
    if (m_refresh->property("iconName").toString() != iconName) {
        m_refresh->setIcon(icon(iconName, color::primaryText()));
        m_refresh->setProperty("iconName", iconName);
    }
}

void ContentView::rebuildRows()
{
    QStringList ids;
    for (const NodeRuntime &runtime : m_store->nodes())
        ids.append(runtime.id());
    if (ids == m_rowIds) return;

    // Keyboard focus on a row moves to the row with the same id, or to the overview entry.
    std::optional<QString> focusedId;
    for (NodeSidebarRow *row : std::as_const(m_rows)) {
        if (row->hasFocus()) focusedId = row->runtime().id();
    }
    const bool hadFocus = focusedId.has_value();

    qDeleteAll(m_rows);
    m_rows.clear();
    QWidget *sidebar = m_overviewEntry->parentWidget();
    QWidget *previous = m_overviewEntry;
    NodeSidebarRow *refocus = nullptr;
    for (const QString &id : ids) {
        auto *row = new NodeSidebarRow(sidebar);
        connect(row, &SidebarEntry::clicked, this, [this, id] { select(id); });
        connect(row, &SidebarEntry::stepRequested, this, [this, row](int delta) { step(row, delta); });
        m_rowsLayout->addWidget(row);
        row->show(); // at once, not on the next turn of the event loop, so it can take the focus
        setTabOrder(previous, row);
        previous = row;
        m_rows.append(row);
        if (focusedId && *focusedId == id && !refocus) refocus = row;
    }
    setTabOrder(previous, m_settingsButton);
    m_rowIds = ids;

    if (refocus)
        refocus->setFocus(Qt::OtherFocusReason);
    else if (hadFocus)
        m_overviewEntry->setFocus(Qt::OtherFocusReason);
}

void ContentView::step(SidebarEntry *from, int delta)
{
    QList<SidebarEntry *> entries{m_overviewEntry};
    for (NodeSidebarRow *row : std::as_const(m_rows))
        entries.append(row);
    entries.append(m_settingsButton);
    const qsizetype at = entries.indexOf(from) + delta;
    if (at >= 0 && at < entries.size()) entries[at]->setFocus(Qt::OtherFocusReason);
}

} // namespace vantor
