// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "ui/AlertList.h"
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

namespace {

// Three nodes, each with as many alerts.
QList<NodeRuntime> three(int alertsEach = 0)
{
    QList<NodeRuntime> nodes;
    for (const QString &id : {u"a"_s, u"b"_s, u"c"_s}) {
        NodeRuntime &r = nodes.emplace_back();
        r.node = {id, u"节点 "_s + id, u"http://127.0.0.1:9100/metrics"_s, {}};
        for (int i = 0; i < alertsEach; ++i)
            r.metrics.alerts.append(
                makeAlert(u"warning"_s, u"t"_s, u"d"_s, QDateTime::fromSecsSinceEpoch(i)));
    }
    return nodes;
}

} // namespace

class TestOverview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Same ids: tiles, cards and list are updated in place and the page keeps its scroll position.
    // Other ids: the cards are rebuilt, one per node, three to a row.
    void updatesInPlace()
    {
        // The disk bar turns orange only above 85 (NaN is no figure to warn of); CPU and memory
        // keep their tints.
        QCOMPARE((QList<ColorRole>{diskColor(85), diskColor(85.01), diskColor(std::nan(""))}),
                 (QList<ColorRole>{ColorRole::Green, ColorRole::Orange, ColorRole::Green}));
        OverviewView view(nullptr);
        // The alerts tile asks for attention, in orange, while any node warns, whatever the count
        // of alerts.
        const SummaryCard *alerts = view.findChild<SummaryCard *>(u"tile1"_s);
        view.resize(900, 500);
        view.showContent(three(20), std::nullopt, {3, 3, 60, 0, 30});
        QCOMPARE(alerts->tile().subtitle, u"运行平稳"_s);
        QCOMPARE(color(alerts->tile().color), color(ColorRole::Green));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QList<NodeCard *> cards = view.findChildren<NodeCard *>();
        const QList<QPointer<NodeCard>> old{cards.begin(), cards.end()};
        QScrollBar *scroll = view.verticalScrollBar();
        scroll->setValue(600);

        QList<NodeRuntime> changed = three(21);
        changed[0].metrics.cpuUsage = changed[0].metrics.memoryUsage = 99;
        changed[0].metrics.diskUsage = 85.01;
        view.showContent(changed, QDateTime::currentDateTime(), {2, 3, 0, 1, 12.7});
        QCoreApplication::processEvents();
        QCOMPARE(alerts->tile().subtitle, u"需要关注"_s);
        QCOMPARE(color(alerts->tile().color), color(ColorRole::Orange));
        QCOMPARE(view.findChildren<NodeCard *>(), cards);
        auto bar = [&](const QString &n) { return cards[0]->findChild<MetricRow *>(n)->bar()->color(); };
        QCOMPARE((QList<QColor>{bar(u"cpu"_s), bar(u"memory"_s), bar(u"disk"_s)}),
                 (QList<QColor>{color(ColorRole::Blue), color(ColorRole::Purple), color(ColorRole::Orange)}));
        for (const QLabel *l : cards[0]->findChildren<QLabel *>()) // names are never markup
            if (!l->text().isEmpty()) QCOMPARE(l->textFormat(), Qt::PlainText);
        QCOMPARE(scroll->value(), 600);

        // The list has no scrolling of its own: the wheel over it scrolls the page.
        QWidget *listRows = view.findChild<AlertList *>()->findChild<QAbstractItemView *>()->viewport();
        view.ensureWidgetVisible(listRows, 0, 0);
        const int before = scroll->value();
        QWheelEvent wheel(QPoint(5, 5), listRows->mapToGlobal(QPoint(5, 5)), {}, QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&wheel); // as from the window system: it may propagate
        qApp->notify(listRows, &wheel);
        QVERIFY(scroll->value() > before);

        QList<NodeRuntime> other = three();
        other.append(other[0]);
        other[3].node.id = u"d"_s;
        view.showContent(other, std::nullopt, {});
        for (const QPointer<NodeCard> &card : old)
            QVERIFY(card.isNull());
        QTRY_VERIFY(view.findChild<NodeCard *>(u"node:d"_s)->y() >
                    view.findChild<NodeCard *>(u"node:a"_s)->y());
    }

    // Bound to a store, the page follows it, once per burst of notifications.
    void followsStore()
    {
        test::FakeAgent agent;
        agent.answer(200, test::replyBody(test::sampleReading(37.9, {u"warning"_s})));
        test::TempNodeFiles files({{u"a"_s, u"a"_s, agent.url(), {}}});
        MonitorStore store(files.locations());
        OverviewView view(&store);
        auto *updated = view.findChild<QLabel *>(u"updated"_s);
        QVERIFY(updated->isHidden()); // no time before the first reading
        int updates = 0;
        new StoreObserver(&store, &view, [&updates] { ++updates; });
        QSignalSpy notifications(&store, &MonitorStore::changed);
        store.refresh();
        QVERIFY(test::waitIdle(store));
        QTRY_VERIFY(!updated->isHidden());
        QVERIFY(notifications.size() > 5);
        QCOMPARE(updates, 2); // one when the cycle starts, one for the whole burst at its end
        // Hours, minutes and seconds, whatever the locale's order and separators.
        QVERIFY2(
            updated->text().contains(QRegularExpression(u"^更新于 \\D*\\d{1,2}\\D+\\d\\d\\D+\\d\\d\\D*$"_s)),
            qPrintable(updated->text()));
    }

    // A reading whose alert carries megabytes of text shows at most the bound's worth of it, wrapped
    // to as many lines as it needs, in Latin and in Chinese alike. (How fast is measured in bench/.)
    void hugeTextsAreBoundedAndWrapped()
    {
        OverviewView overview(nullptr);
        overview.resize(940, 700);
        overview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&overview));
        overview.showContent(three(1), std::nullopt, {});
        QCoreApplication::processEvents();
        const auto *rows = overview.findChild<AlertList *>()->findChild<QAbstractItemView *>();
        const int oneLine = rows->height() / 3; // three short rows
        for (const QString &word : {u"disk "_s, u"磁盘"_s}) {
            QList<NodeRuntime> nodes = three();
            QString text;
            while (text.size() < 3 << 20)
                text += word;
            nodes[0].metrics.alerts.append(
                makeAlert(u"critical"_s, text, text, QDateTime::currentDateTimeUtc()));
            overview.showContent(nodes, QDateTime::currentDateTime(), {});
            QCoreApplication::processEvents();
            QCOMPARE(overview.findChild<AlertList *>()->model()->index(0).data().toString(),
                     u"节点 a · "_s + text.left(2000) + u'…');
            // 2,000 characters of title and of detail take dozens of lines at this width, not one each.
            QVERIFY2(rows->height() > 5 * oneLine,
                     qPrintable(u"%1 vs %2"_s.arg(rows->height()).arg(oneLine)));
        }
    }
};

QTEST_MAIN(TestOverview)
#include "tst_overview.moc"
