// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "ui/AlertList.h"
#include "ui/Format.h"
#include "ui/MeterBar.h"
#include "ui/MetricRow.h"
#include "ui/NodeCard.h"
#include "ui/NodeDetailView.h"
#include "ui/OverviewView.h"
#include "ui/StoreObserver.h"
#include "ui/Style.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(FleetFigures)

namespace {

NodeRuntime runtime(const QString &id, NodeStatus status, int alerts = 0)
{
    NodeRuntime r;
    r.node = {id, u"节点 "_s + id, u"http://127.0.0.1:9100/metrics"_s, {}};
    r.status = status;
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    for (int i = 0; i < alerts; ++i)
        r.metrics.alerts.append(makeAlert(u"warning"_s, u"t"_s, u"d"_s, at.addSecs(i)));
    return r;
}

QList<NodeRuntime> three(int alertsEach = 0)
{
    return {runtime(u"a"_s, NodeStatus::online, alertsEach), runtime(u"b"_s, NodeStatus::warning, alertsEach),
            runtime(u"c"_s, NodeStatus::offline, alertsEach)};
}

} // namespace

class TestOverview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tiles_data()
    {
        QTest::addColumn<FleetFigures>("figures");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("alertCaption");
        QTest::addColumn<QColor>("alertColour");
        const QString calm = u"运行平稳"_s, attention = u"需要关注"_s;
        QTest::newRow("one of three online")
            << FleetFigures{1, 3, 0, 0, 0} << QStringList{u"1/3"_s, u"0"_s, u"0%"_s} << calm
            << color(ColorRole::Green);
        QTest::newRow("alerts but no warning node")
            << FleetFigures{3, 3, 4, 0, 30} << QStringList{u"3/3"_s, u"4"_s, u"30%"_s} << calm
            << color(ColorRole::Green);
        QTest::newRow("warning node without alerts counted")
            << FleetFigures{2, 3, 0, 1, 12.7} << QStringList{u"2/3"_s, u"0"_s, u"12%"_s} << attention
            << color(ColorRole::Orange);
        QTest::newRow("average CPU not a number")
            << FleetFigures{0, 3, 7, 2, std::nan("")} << QStringList{u"0/3"_s, u"7"_s, u"—%"_s} << attention
            << color(ColorRole::Orange);
    }
    void tiles()
    {
        QFETCH(FleetFigures, figures);
        QFETCH(QStringList, values);
        QFETCH(QString, alertCaption);
        QFETCH(QColor, alertColour);
        OverviewView view(nullptr);
        view.showContent(three(), std::nullopt, figures);
        QStringList shown;
        for (int i = 0; i < 3; ++i) {
            const SummaryTile t = view.findChild<SummaryCard *>(u"tile"_s + QString::number(i))->tile();
            shown << t.value << t.title << t.subtitle;
        }
        QCOMPARE(shown, (QStringList{values[0], u"在线节点"_s, u"当前可连接"_s, values[1], u"活动告警"_s,
                                     alertCaption, values[2], u"平均 CPU"_s, u"三节点平均"_s}));
        QCOMPARE(color(view.findChild<SummaryCard *>(u"tile1"_s)->tile().color), alertColour);
        // The card's labels carry the tile's texts.
        QStringList labels;
        for (const QLabel *l : view.findChild<SummaryCard *>(u"tile1"_s)->findChildren<QLabel *>())
            labels.append(l->text());
        QVERIFY(labels.contains(values[1]) && labels.contains(alertCaption));
    }

    void nodeCard_data()
    {
        QTest::addColumn<double>("disk");
        QTest::addColumn<QColor>("diskColour");
        QTest::newRow("85 is green") << 85.0 << color(ColorRole::Green);
        QTest::newRow("85.01 is orange") << 85.01 << color(ColorRole::Orange);
        QTest::newRow("NaN is green") << std::nan("") << color(ColorRole::Green);
    }
    void nodeCard()
    {
        QFETCH(double, disk);
        QFETCH(QColor, diskColour);
        NodeCard card;
        NodeRuntime r = runtime(u"a"_s, NodeStatus::critical);
        r.metrics.cpuUsage = r.metrics.memoryUsage = 99;
        r.metrics.diskUsage = disk;
        r.metrics.servicesRunning = 3;
        r.metrics.servicesTotal = 4;
        card.setRuntime(r);
        QCOMPARE(card.findChild<MetricRow *>(u"disk"_s)->bar()->color(), diskColour);
        QCOMPARE(card.findChild<MetricRow *>(u"cpu"_s)->bar()->color(), color(ColorRole::Blue));
        QCOMPARE(card.findChild<MetricRow *>(u"memory"_s)->bar()->color(), color(ColorRole::Purple));
        QCOMPARE(card.findChild<QLabel *>(u"services"_s)->text(), u"3/4"_s);

        QStringList texts;
        for (const QLabel *l : card.findChildren<QLabel *>()) {
            texts.append(l->text());
            if (!l->text().isEmpty()) QCOMPARE(l->textFormat(), Qt::PlainText); // names are never markup
        }
        QVERIFY(texts.contains(u"节点 a"_s) && texts.contains(u"严重"_s));

        card.setRuntime(runtime(u"a"_s, NodeStatus::offline)); // the empty snapshot
        QCOMPARE(card.findChild<QLabel *>(u"services"_s)->text(), u"0/0"_s);
    }

    // Same ids: cards and list are updated in place and the page keeps its scroll position.
    // Other ids: the cards are rebuilt, one per node, three to a row.
    void updatesInPlace()
    {
        OverviewView view(nullptr);
        view.resize(900, 500);
        view.showContent(three(20), std::nullopt, {});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QList<NodeCard *> cards = view.findChildren<NodeCard *>();
        QCOMPARE(cards.size(), 3);
        const QList<QPointer<NodeCard>> old{cards.begin(), cards.end()};
        QScrollBar *scroll = view.verticalScrollBar();
        QVERIFY(scroll->maximum() > 600);
        scroll->setValue(600);

        QList<NodeRuntime> changed = three(21);
        changed[0].metrics.cpuUsage = 55;
        view.showContent(changed, QDateTime::currentDateTime(), {});
        QCoreApplication::processEvents();
        QCOMPARE(view.findChildren<NodeCard *>(), cards);
        QCOMPARE(cards.value(0)->runtime(), changed[0]);
        QCOMPARE(view.findChild<AlertList *>()->model()->rowCount(), 63);
        QCOMPARE(scroll->value(), 600);

        // The list has no scrolling of its own: the wheel over it scrolls the page.
        QWidget *listRows = view.findChild<AlertList *>()->findChild<QAbstractItemView *>()->viewport();
        const QPoint inside(listRows->width() / 2, 5);
        view.ensureWidgetVisible(listRows, 0, 0);
        const int before = scroll->value();
        QWheelEvent wheel(inside, listRows->mapToGlobal(inside), {}, QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&wheel); // as from the window system: it may propagate
        qApp->notify(listRows, &wheel);
        QVERIFY(scroll->value() > before);

        QList<NodeRuntime> other = three();
        other.append(runtime(u"d"_s, NodeStatus::online));
        other[1].node.id = u"renamed"_s;
        view.showContent(other, std::nullopt, {});
        QCOMPARE(view.findChildren<NodeCard *>().size(), 4);
        for (const QPointer<NodeCard> &card : old)
            QVERIFY(card.isNull());
        const auto *fourth = view.findChild<NodeCard *>(u"node:d"_s);
        QVERIFY(fourth);
        QTRY_VERIFY(fourth->y() > view.findChild<NodeCard *>(u"node:a"_s)->y());
    }

    // Bound to a store, the page follows it, once per burst of notifications.
    void followsStore()
    {
        test::FakeAgent agent;
        agent.answer(200, test::replyBody(test::sampleReading(37.9, {u"warning"_s})));
        QList<ServerNode> nodes;
        for (const QString &id : {u"a"_s, u"b"_s, u"c"_s})
            nodes.append({id, id, agent.url(), {}});
        test::TempNodeFiles files(nodes);
        MonitorStore store(files.locations());
        OverviewView view(&store);
        auto *updated = view.findChild<QLabel *>(u"updated"_s);
        QVERIFY(updated->isHidden()); // no time before the first reading
        int updates = 0;
        new StoreObserver(&store, &view, [&updates] { ++updates; });
        QSignalSpy notifications(&store, &MonitorStore::objectWillChange);
        store.refresh();
        QVERIFY(test::waitIdle(store));
        QTRY_VERIFY(!updated->isHidden());
        QVERIFY(notifications.size() > 5);
        QCOMPARE(updates, 2); // one when the cycle starts, one for the whole burst at its end
        // Hours, minutes and seconds, whatever the locale's order and separators.
        QVERIFY2(QRegularExpression(u"^更新于 \\D*\\d{1,2}\\D+\\d\\d\\D+\\d\\d\\D*$"_s)
                     .match(updated->text())
                     .hasMatch(),
                 qPrintable(updated->text()));
        // Three nodes with one warning each: none counts as online.
        QCOMPARE(view.findChild<SummaryCard *>(u"tile0"_s)->tile().value, u"0/3"_s);
        QCOMPARE(view.findChild<AlertList *>()->model()->rowCount(), 3);
    }

    // A reading whose alert carries megabytes of text: the overview and the node page take their
    // update in a bounded time, and show at most the bound's worth of it.
    void hugeTextsStayFast()
    {
        OverviewView overview(nullptr);
        NodeDetailView detail;
        overview.resize(940, 700);
        detail.resize(940, 700);
        overview.show();
        detail.show();
        QVERIFY(QTest::qWaitForWindowExposed(&overview) && QTest::qWaitForWindowExposed(&detail));
        auto huge = [](QChar fill) {
            QList<NodeRuntime> nodes = three();
            nodes[0].metrics.alerts.append(makeAlert(u"critical"_s, QString(3 << 20, fill),
                                                     QString(3 << 20, fill),
                                                     QDateTime::currentDateTimeUtc()));
            return nodes;
        };
        const QList<NodeRuntime> readings[] = {huge(u'a'), huge(u'b'), huge(u'c')};
        overview.showContent(three(1), std::nullopt, {}); // fonts and caches warm
        detail.setRuntime(three(1)[0]);
        QList<qint64> times;
        for (const QList<NodeRuntime> &nodes : readings) {
            QElapsedTimer timer;
            timer.start();
            overview.showContent(nodes, QDateTime::currentDateTime(), {});
            detail.setRuntime(nodes[0]);
            QCoreApplication::processEvents();
            overview.repaint();
            detail.repaint();
            times.append(timer.elapsed());
        }
        std::sort(times.begin(), times.end());
        QVERIFY2(times[1] < 50, qPrintable(u"median %1 ms"_s.arg(times[1])));
        const QString headline = overview.findChild<AlertList *>()->model()->index(0).data().toString();
        QCOMPARE(headline, u"节点 a · "_s + QString(2000, u'c') + u'…');
    }
};

QTEST_MAIN(TestOverview)
#include "tst_overview.moc"
