// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "app/ContentView.h"
#include "ui/AlertList.h"
#include "ui/DetailMetric.h"
#include "ui/MetricRow.h"
#include "ui/NodeCard.h"
#include "ui/NodeDetailView.h"
#include "ui/SummaryCard.h"

#include <QLabel>
#include <QToolButton>
#include <QtTest>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

namespace {

QStringList labelTexts(const QWidget *w)
{
    QStringList texts;
    for (const QLabel *l : w->findChildren<QLabel *>())
        if (l->isVisibleTo(w)) texts.append(l->text());
    return texts;
}

} // namespace

// The whole console over three fake agents on loopback: one refresh reaches the overview and the
// node page; a failing agent leaves its node's figures in place under the status "离线".
class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refreshReachesTheScreens()
    {
        test::FakeAgent agents[3];
        const QString ids[3] = {u"tokyo"_s, u"sg"_s, u"fra"_s};
        const QStringList severities[3] = {{}, {u"warning"_s}, {u"critical"_s, u"warning"_s}};
        QList<ServerNode> nodes;
        for (int i = 0; i < 3; ++i) {
            agents[i].answer(200, test::replyBody(test::sampleReading(30 * (i + 1), severities[i])));
            nodes.append({ids[i], u"节点"_s + QString::number(i + 1), agents[i].url(), u"secret"_s});
        }
        test::TempNodeFiles files(nodes);
        ContentView window(files.locations());
        MonitorStore *store = window.store();
        window.show();
        QVERIFY(QTest::qWaitFor([&] { return store->lastUpdated().has_value() && !store->isRefreshing(); }));

        const QWidget *overview = window.findChild<QWidget *>(u"overview"_s);
        auto tile = [&](int i) { return overview->findChild<SummaryCard *>(u"tile"_s + QString::number(i)); };
        auto card = [&](int i) { return overview->findChild<NodeCard *>(u"node:"_s + ids[i]); };
        QVERIFY(QTest::qWaitFor([&] { return tile(0)->tile().value == u"1/3"_s; }));
        QCOMPARE((QStringList{tile(1)->tile().value, tile(2)->tile().value}),
                 (QStringList{u"3"_s, u"60%"_s}));
        QCOMPARE(card(2)->findChild<MetricRow *>(u"cpu"_s)->valueText(), u"90%"_s);
        QVERIFY(labelTexts(card(1)).contains(u"告警"_s) && labelTexts(card(2)).contains(u"严重"_s));
        QCOMPARE(overview->findChild<AlertList *>(u"alerts"_s)->model()->rowCount(), 3);

        // The page of the critical node shows its own reading and its two alerts.
        window.select(ids[2]);
        QCoreApplication::processEvents();
        const auto *detail = window.findChild<NodeDetailView *>(u"nodeDetail"_s);
        QVERIFY(detail->isVisible());
        QVERIFY(labelTexts(detail).contains(u"节点3"_s) && labelTexts(detail).contains(u"严重"_s));
        QCOMPARE(detail->findChild<DetailMetric *>(u"cpu"_s)->percentText(), u"90%"_s);
        QCOMPARE(detail->findChild<AlertList *>(u"alerts"_s)->model()->rowCount(), 2);

        // The first agent fails; the next refresh, from the toolbar, keeps its last figures.
        window.select(std::nullopt);
        agents[0].answer(500, "down");
        window.findChild<QToolButton *>(u"refreshButton"_s)->click();
        QVERIFY(QTest::qWaitFor([&] { return labelTexts(card(0)).contains(u"离线"_s); }));
        QCOMPARE(card(0)->findChild<MetricRow *>(u"cpu"_s)->valueText(), u"30%"_s);
        QCOMPARE((QStringList{tile(0)->tile().value, tile(2)->tile().value}),
                 (QStringList{u"0/3"_s, u"60%"_s}));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
