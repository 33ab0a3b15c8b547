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

private:
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
    static QList<NodeSidebarRow *> rows(const ContentView &view)
    {
        return view.findChildren<NodeSidebarRow *>();
    }
    static SidebarEntry *overviewEntry(const ContentView &view)
    {
        return view.findChild<SidebarEntry *>(u"overviewEntry"_s);
    }
    // The page shown; whether the overview entry's caption is semibold and in the primary colour,
    // as while it is selected; and which rows are highlighted.
    static QString selection(const ContentView &view)
    {
        QString out = QString::fromLatin1(
            view.findChild<QStackedWidget *>()->currentWidget()->metaObject()->className());
        for (const QLabel *l : overviewEntry(view)->findChildren<QLabel *>())
            if (l->text() == u"总览"_s)
                out += (l->font().weight() == QFont::DemiBold ? u" semibold"_s : u" normal"_s) +
                       (l->palette().color(QPalette::WindowText) == color(ColorRole::PrimaryText)
                            ? u" primary "_s
                            : u" other "_s);
        for (const NodeSidebarRow *row : rows(view))
            out += row->isSelected() ? u'x' : u'-';
        return out;
    }

    // No visible widget on the page reaches past the right edge of the scroll area's viewport.
    static void expectWithinColumn(QScrollArea *area)
    {
        QCoreApplication::processEvents();
        const int right = area->viewport()->width();
        QVERIFY2(area->widget()->width() <= right, qPrintable(QString::number(area->widget()->width())));
        for (const QWidget *w : area->widget()->findChildren<QWidget *>()) {
            if (!w->isVisibleTo(area)) continue;
            const int edge = w->mapTo(area->viewport(), QPoint(w->width(), 0)).x();
            QVERIFY2(edge <= right, qPrintable(w->objectName() + u' ' + QString::number(edge)));
        }
    }
    // The label is whole inside its parent and inside the viewport's width.
    static void expectVisible(QScrollArea *area, const QLabel *label)
    {
        QVERIFY(label && label->isVisibleTo(area) && !label->text().isEmpty());
        QVERIFY(label->parentWidget()->rect().contains(label->geometry()));
        QVERIFY(label->width() >= label->sizeHint().width());
        const QPoint left = label->mapTo(area->viewport(), QPoint(0, 0));
        QVERIFY(left.x() >= 0 && left.x() + label->width() <= area->viewport()->width());
    }
    // A name that does not fit ends in "…" and carries the whole name as its tooltip.
    static void expectElided(const ElidedLabel *label, const QString &full)
    {
        QVERIFY(label && label->fullText() == full);
        QCOMPARE(label->toolTip(), full);
        QVERIFY2(label->text().endsWith(u'…') && label->text().size() < full.size(),
                 qPrintable(label->text()));
    }

private Q_SLOTS:
    void init()
    {
        agent = std::make_unique<test::FakeAgent>();
        agent->answer(200, test::replyBody(test::sampleReading(10)));
        files = std::make_unique<test::TempNodeFiles>(nodes());
    }

    // Before the window first shows nothing is polled and the rows show offline; showing it
    // refreshes them. A name that fits is shown whole, without a tooltip.
    void sidebarRow()
    {
        agent->answer(200, test::replyBody(test::sampleReading(99.99, {u"warning"_s, u"critical"_s})));
        auto view = window(false);
        auto row = [&] {
            const NodeSidebarRow *r = rows(*view).value(0);
            return QStringList{r->statusText(), r->dotColor().name(), r->cpuText()};
        };
        QTest::qWait(100);
        QCOMPARE(agent->requests().size(), 0);
        QCOMPARE(row(), (QStringList{u"离线"_s, color(ColorRole::Gray).name(), u"0%"_s}));
        view->show();
        QTRY_COMPARE(row(), (QStringList{u"严重"_s, color(ColorRole::Red).name(), u"99%"_s}));
        const auto *name = rows(*view)[0]->findChild<ElidedLabel *>(u"name"_s);
        QCOMPARE((QStringList{name->text(), name->toolTip()}), (QStringList{u"节点 a"_s, QString()}));
    }

    void selection()
    {
        auto view = window(true);
        const QString overview = u"vantor::ui::OverviewView"_s;
        QCOMPARE(selection(*view), overview + u" semibold primary ---"_s);
        QTest::mouseClick(rows(*view)[1], Qt::LeftButton);
        QCOMPARE(view->selectedID(), u"b"_s);
        QCOMPARE(selection(*view), u"vantor::ui::NodeDetailView normal other -x-"_s);
        QTest::mouseClick(overviewEntry(*view), Qt::LeftButton);
        QCOMPARE(view->selectedID(), std::nullopt);
        QCOMPARE(selection(*view), overview + u" semibold primary ---"_s);

        // A selected id that a new node list no longer holds: the overview shows, nothing is
        // highlighted and the selection keeps the old id until the next click.
        QTest::mouseClick(rows(*view)[1], Qt::LeftButton);
        view->store()->apply(nodes({u"a"_s, u"c"_s, u"d"_s}), false);
        QTRY_COMPARE(rows(*view).value(2)->runtime().id(), u"d"_s);
        QCOMPARE(view->selectedID(), u"b"_s);
        QCOMPARE(selection(*view), overview + u" normal other ---"_s);

        QTest::mouseClick(view->findChild<SidebarEntry *>(u"settingsButton"_s), Qt::LeftButton);
        auto *sheet = view->findChild<SettingsView *>();
        QVERIFY(view->showingSettings());
        QTRY_VERIFY(sheet->isVisible());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        sheet->reject();
        QVERIFY(!view->showingSettings());
    }

    // The data source follows the store's mode. A refresh changes rows in place: same widgets,
    // same focus; a new list shape rebuilds them and the focus follows the node's id. The refresh
    // button's icon follows isRefreshing and the button stays usable during a cycle.
    void toolbarAndRefresh()
    {
        auto view = window(true);
        auto *dot = view->findChild<QWidget *>(u"dataSource"_s)->findChild<StatusDot *>();
        auto *caption = view->findChild<QWidget *>(u"dataSource"_s)->findChild<QLabel *>();
        QCOMPARE(dot->color(), color(ColorRole::Green));
        QCOMPARE(caption->text(), u"实时采集"_s);
        view->store()->apply(nodes(), true);
        QTRY_COMPARE(dot->color(), color(ColorRole::Orange));
        QVERIFY(caption->text() != u"实时采集"_s && !caption->text().isEmpty());

        const QList<NodeSidebarRow *> before = rows(*view);
        const QPointer<NodeSidebarRow> oldSecond = before[1];
        before[1]->setFocus(Qt::TabFocusReason);
        const qint64 tick = view->store()->tick();
        view->store()->refresh();
        QTRY_VERIFY(view->store()->tick() > tick);
        QCoreApplication::processEvents();
        QCOMPARE(rows(*view), before);
        QVERIFY(before[1]->hasFocus());
        view->store()->apply(nodes({u"x"_s, u"b"_s, u"c"_s}), false);
        QTRY_COMPARE(rows(*view).value(0)->runtime().id(), u"x"_s);
        QVERIFY(oldSecond.isNull());
        QVERIFY(rows(*view)[1]->hasFocus());
        QTRY_COMPARE(dot->color(), color(ColorRole::Green));
        QCOMPARE(caption->text(), u"实时采集"_s);
        QVERIFY(test::waitIdle(*view->store()));

        auto *refresh = view->findChild<QToolButton *>(u"refreshButton"_s);
        agent->setBehaviour(test::FakeAgent::Behaviour::Silent);
        QTest::mouseClick(refresh, Qt::LeftButton);
        QVERIFY(view->store()->isRefreshing());
        QTRY_COMPARE(refresh->property("iconName").toString(), u"arrow-repeat"_s);
        QVERIFY(refresh->isEnabled());
        QTest::mouseClick(refresh, Qt::LeftButton);
        QVERIFY(test::waitIdle(*view->store()));
        QTRY_COMPARE(refresh->property("iconName").toString(), u"arrow-clockwise"_s);
    }

    void keyboard()
    {
        auto view = window(true);
        view->activateWindow();
        overviewEntry(*view)->setFocus(Qt::TabFocusReason);
        auto key = [](Qt::Key k) { QTest::keyClick(QApplication::focusWidget(), k); };
        key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), rows(*view)[0]);
        key(Qt::Key_Return);
        QCOMPARE(view->selectedID(), u"a"_s);
        key(Qt::Key_Down);
        key(Qt::Key_Space);
        QCOMPARE(view->selectedID(), u"b"_s);
        key(Qt::Key_Up);
        key(Qt::Key_Up);
        QCOMPARE(QApplication::focusWidget(), overviewEntry(*view));
        key(Qt::Key_Enter);
        QCOMPARE(view->selectedID(), std::nullopt);

        // Every control that takes the keyboard focus has a name for assistive technology.
        for (QWidget *w : view->findChildren<QWidget *>()) {
            if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(view.get())) continue;
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(), w->metaObject()->className());
        }

        key(Qt::Key_Down);
        QTest::keyClick(view->windowHandle(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!view->isVisible());
    }

    // Real-world texts at the smallest window size: long Latin and Chinese names, long alerts,
    // figures of 1e300 and nine nodes. Nothing is wider than the detail column, every status label
    // stays in sight, and names that do not fit end in "…" with a tooltip.
    void longTexts()
    {
        MetricsSnapshot reading = test::sampleReading(1e300, {u"critical"_s});
        reading.memoryUsage = reading.diskUsage = reading.loadAverage = 1e300;
        reading.servicesRunning = reading.servicesTotal = std::numeric_limits<qint64>::max();
        reading.alerts[0].title = QString(300, u'告');
        reading.alerts[0].detail = u"detail "_s.repeated(200);
        agent->answer(200, test::replyBody(reading));
        const QString latin = u"web-frontend-production-cluster-node-01.internal.example"_s;
        const QString chinese = u"北京第一数据中心生产环境前端集群负载均衡节点零一号服务器主机"_s;
        QList<ServerNode> nine;
        for (int i = 0; i < 9; ++i)
            nine.append(
                {QString::number(i), (i % 2 ? chinese : latin) + QString::number(i), agent->url(), {}});
        files = std::make_unique<test::TempNodeFiles>(nine);
        auto view = window(true);
        view->resize(1000, 680);
        QVERIFY(test::waitIdle(*view->store()));
        QTRY_COMPARE(rows(*view).value(0)->statusText(), u"严重"_s);

        // The sidebar's rows keep their height and scroll; their names end in "…".
        auto *scroll = view->findChild<QScrollArea *>(u"sidebarScroll"_s);
        QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 0);
        for (NodeSidebarRow *row : rows(*view)) {
            QCOMPARE(row->height(), row->sizeHint().height());
            expectElided(row->findChild<ElidedLabel *>(u"name"_s), row->runtime().node.name);
        }

        auto *overview = view->findChild<OverviewView *>();
        expectWithinColumn(overview);
        for (const NodeCard *card : overview->findChildren<NodeCard *>()) {
            expectElided(card->findChild<ElidedLabel *>(u"name"_s), card->runtime().node.name);
            expectVisible(overview, card->findChild<QLabel *>(u"status"_s));
        }

        QTest::mouseClick(rows(*view)[1], Qt::LeftButton);
        auto *detail = view->findChild<NodeDetailView *>()->findChild<QScrollArea *>();
        QTRY_VERIFY(detail->isVisible());
        expectWithinColumn(detail);
        expectElided(detail->findChild<ElidedLabel *>(u"name"_s), chinese + u'1');
        expectVisible(detail, detail->findChild<QLabel *>(u"status"_s));
        QVERIFY(detail->findChild<InfoCard *>(u"load"_s)->findChild<ElidedLabel *>()->isElided());
    }
};

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
