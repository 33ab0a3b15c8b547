// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "app/ContentView.h"
#include "app/NodeSidebarRow.h"
#include "ui/ElidedLabel.h"
#include "ui/InfoCard.h"
#include "ui/NodeCard.h"
#include "ui/NodeDetailView.h"
#include "ui/OverviewView.h"
#include "ui/SettingsView.h"
#include "ui/StatusDot.h"
#include "ui/Style.h"

#include <QAccessible>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>

#include <limits>
#include <memory>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

class TestContentView : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::FakeAgent> agent;
    std::unique_ptr<test::TempNodeFiles> files;

    QList<ServerNode> nodes(const QStringList &ids = {u"a"_s, u"b"_s, u"c"_s}) const
    {
        QList<ServerNode> out;
        for (const QString &id : ids)
            out.append({id, u"节点 "_s + id, agent->url(), {}});
        return out;
    }
    std::unique_ptr<ContentView> window(bool show)
    {
        auto view = std::make_unique<ContentView>(files->locations());
        view->store()->setFetchLimits({300, 1000, 1 << 20});
        if (show) {
            view->show();
            if (!QTest::qWaitForWindowExposed(view.get())) qFatal("window not exposed");
            test::waitIdle(*view->store());
        }
        return view;
    }
    static QList<NodeSidebarRow *> rows(const ContentView &v) { return v.findChildren<NodeSidebarRow *>(); }
    // The page shown; whether the overview entry looks selected (its caption semibold and in the
    // primary colour) or plain (neither); and which rows are highlighted.
    static QString selection(const ContentView &view)
    {
        const QLabel *caption =
            view.findChild<SidebarEntry *>(u"overviewEntry"_s)->findChildren<QLabel *>().last();
        QString out = view.findChild<QStackedWidget *>()->currentWidget()->objectName();
        const bool bold = caption->font().weight() == QFont::DemiBold;
        const bool primary = caption->palette().color(QPalette::WindowText) == color(ColorRole::PrimaryText);
        out += bold && primary ? u" selected "_s : bold || primary ? u" mixed "_s : u" plain "_s;
        for (const NodeSidebarRow *row : rows(view))
            out += row->isSelected() ? u'x' : u'-';
        return out;
    }

private Q_SLOTS:
    void init()
    {
        agent = std::make_unique<test::FakeAgent>();
        agent->answer(200, test::replyBody(test::sampleReading(99.99, {u"warning"_s, u"critical"_s})));
        files = std::make_unique<test::TempNodeFiles>(nodes());
    }

    // Mouse and keyboard select the overview or a node: the page, the entry's look and the row
    // highlights follow. Every control that takes the focus has a name for assistive technology.
    void selection()
    {
        auto view = window(true);
        const QString overview = u"overview selected ---"_s;
        QCOMPARE(selection(*view), overview);
        QTest::mouseClick(rows(*view)[1], Qt::LeftButton);
        QCOMPARE(selection(*view), u"nodeDetail plain -x-"_s);

        // A selected id that a new node list no longer holds: the overview shows, nothing is
        // highlighted and the selection keeps the old id until the next click.
        view->store()->apply(nodes({u"a"_s, u"c"_s, u"d"_s}), false);
        QTRY_COMPARE(rows(*view).value(2)->runtime().id(), u"d"_s);
        QCOMPARE(view->selectedID(), u"b"_s);
        QCOMPARE(selection(*view), u"overview plain ---"_s);

        // The settings sheet is modal to the window.
        QTest::mouseClick(view->findChild<SidebarEntry *>(u"settingsButton"_s), Qt::LeftButton);
        auto *sheet = view->findChild<SettingsView *>();
        QTRY_VERIFY(view->showingSettings() && sheet->isVisible());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        sheet->reject();
        QVERIFY(!view->showingSettings());

        // The keyboard moves and selects.
        view->activateWindow();
        view->findChild<SidebarEntry *>(u"overviewEntry"_s)->setFocus(Qt::TabFocusReason);
        auto keys = [](auto... k) { (QTest::keyClick(QApplication::focusWidget(), k), ...); };
        keys(Qt::Key_Tab, Qt::Key_Return);
        QCOMPARE(view->selectedID(), u"a"_s);
        keys(Qt::Key_Down, Qt::Key_Space);
        QCOMPARE(view->selectedID(), u"c"_s);
        keys(Qt::Key_Up, Qt::Key_Up, Qt::Key_Enter);
        QCOMPARE(selection(*view), overview);
        for (QWidget *w : view->findChildren<QWidget *>())
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(view.get()))
                QVERIFY2(!QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty(),
                         w->metaObject()->className());
        keys(Qt::Key_Down); // Ctrl+Q closes the window while a row has the focus
        QTest::keyClick(view->windowHandle(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!view->isVisible());
    }

    // Before the window first shows nothing is polled and the rows show offline; showing it
    // refreshes them. The refresh button's
    // icon follows isRefreshing and the button stays usable during a cycle; a refresh changes rows
    // in place: same widgets, same focus. The data source follows the store's mode, and a new list
    // shape rebuilds the rows with the focus following the node's id.
    void sidebarAndToolbar()
    {
        auto view = window(false);
        const NodeSidebarRow *top = rows(*view).value(0);
        auto row = [&] { return QStringList{top->statusText(), top->dotColor().name(), top->cpuText()}; };
        QTest::qWait(100);
        QCOMPARE(agent->requests().size(), 0);
        QCOMPARE(row(), (QStringList{u"离线"_s, color(ColorRole::Gray).name(), u"0%"_s}));
        view->show();
        QTRY_COMPARE(row(), (QStringList{u"严重"_s, color(ColorRole::Red).name(), u"99%"_s}));
        QVERIFY(test::waitIdle(*view->store()));

        const QList<NodeSidebarRow *> before = rows(*view);
        before[1]->setFocus(Qt::TabFocusReason);
        auto *refresh = view->findChild<QToolButton *>(u"refreshButton"_s);
        agent->setBehaviour(test::FakeAgent::Behaviour::Silent);
        refresh->click();
        QTRY_COMPARE(refresh->property("iconName").toString(), u"arrow-repeat"_s);
        QVERIFY(refresh->isEnabled());
        refresh->click();
        QVERIFY(test::waitIdle(*view->store()));
        QTRY_COMPARE(refresh->property("iconName").toString(), u"arrow-clockwise"_s);
        QTRY_COMPARE(row().value(0), u"离线"_s);
        QCOMPARE(rows(*view), before);
        QVERIFY(before[1]->hasFocus());

        const auto *dot = view->findChild<QWidget *>(u"dataSource"_s)->findChild<StatusDot *>();
        const auto *caption = view->findChild<QWidget *>(u"dataSource"_s)->findChild<QLabel *>();
        auto source = [&] { return QStringList{dot->color().name(), caption->text()}; };
        view->store()->apply(nodes(), true);
        QTRY_COMPARE(source(), (QStringList{color(ColorRole::Orange).name(), u"演示数据"_s}));
        view->store()->apply(nodes({u"x"_s, u"b"_s, u"c"_s}), false);
        QTRY_COMPARE(rows(*view).value(0)->runtime().id(), u"x"_s);
        QVERIFY(rows(*view)[1]->hasFocus());
        QTRY_COMPARE(source(), (QStringList{color(ColorRole::Green).name(), u"实时采集"_s}));
    }

    // Real-world texts at the smallest window size: long Latin and Chinese names, long alerts,
    // figures of 1e300 and nine nodes. The sidebar's rows keep their height and scroll.
    void longTexts()
    {
        const qint64 most = std::numeric_limits<qint64>::max();
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const ServerAlert alert =
            makeAlert(u"critical"_s, QString(300, u'告'), u"detail "_s.repeated(200), now);
        agent->answer(200, test::replyBody({1e300, 1e300, 1e300, 86400, 1e300, most, most, {alert}, now}));
        const QString latin = u"web-frontend-production-cluster-node-01.internal.example"_s;
        const QString chinese = u"北京第一数据中心生产环境前端集群负载均衡节点零一号服务器主机"_s;
        QList<ServerNode> nine;
        for (int i = 0; i < 9; ++i)
            nine.append(
                {QString::number(i), (i % 2 ? chinese : latin) + QString::number(i), agent->url(), {}});
        files = std::make_unique<test::TempNodeFiles>(nine);
        auto view = window(true);
        view->resize(1000, 680);
        QTRY_COMPARE(rows(*view).value(0)->statusText(), u"严重"_s);
        QTRY_VERIFY(view->findChild<QScrollArea *>(u"sidebarScroll"_s)->verticalScrollBar()->maximum() > 0);

        // What breaks the rules: a name that does not end in "…" with the whole name as its
        // tooltip, a widget past the right edge of its page's viewport, a status label not whole.
        QStringList faults;
        auto elided = [&](const QWidget *parent, const QString &full) {
            const auto *name = parent->findChild<ElidedLabel *>(u"name"_s);
            if (name->fullText() != full || name->toolTip() != full || !name->text().endsWith(u'…'))
                faults << u"name "_s + name->text();
        };
        auto page = [&](QScrollArea *area) {
            QCoreApplication::processEvents();
            const int right = area->viewport()->width();
            const QList<QWidget *> all = area->widget()->findChildren<QWidget *>() << area->widget();
            for (const QWidget *w : all)
                if (w->isVisibleTo(area) && w->mapTo(area->viewport(), QPoint(w->width(), 0)).x() > right)
                    faults << u"past the edge "_s + w->objectName();
            for (const QLabel *l : area->findChildren<QLabel *>(u"status"_s))
                if (!l->isVisibleTo(area) || l->text().isEmpty() || l->width() < l->sizeHint().width() ||
                    !l->parentWidget()->rect().contains(l->geometry()))
                    faults << u"status "_s + l->text();
        };
        for (NodeSidebarRow *row : rows(*view)) {
            QCOMPARE(row->height(), row->sizeHint().height());
            elided(row, row->runtime().node.name);
        }
        auto *overview = view->findChild<OverviewView *>();
        page(overview);
        for (const NodeCard *card : overview->findChildren<NodeCard *>())
            elided(card, card->runtime().node.name);
        QTest::mouseClick(rows(*view)[1], Qt::LeftButton);
        auto *detail = view->findChild<NodeDetailView *>()->findChild<QScrollArea *>();
        QTRY_VERIFY(detail->isVisible());
        page(detail);
        elided(detail, chinese + u'1');
        QCOMPARE(faults, QStringList());
        QVERIFY(detail->findChild<InfoCard *>(u"load"_s)->findChild<ElidedLabel *>()->isElided());
    }
};

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
