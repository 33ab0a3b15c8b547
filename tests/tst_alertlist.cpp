// SPDX-License-Identifier: MIT
#include "ui/AlertList.h"
#include "ui/Style.h"

#include <QAbstractItemView>
#include <QScrollBar>
#include <QtTest>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(NodeRuntime)

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(9, 41, 27)); // local time, as shown

// "severity@secondsAfterT0:title" for each alert of one node.
NodeRuntime node(const QString &name, const QStringList &alerts, NodeStatus status = NodeStatus::warning)
{
    NodeRuntime runtime;
    runtime.node = {name.toLower(), name, u"http://127.0.0.1:9100/metrics"_s, {}};
    runtime.status = status;
    for (const QString &entry : alerts) {
        const QStringList parts = entry.split(QRegularExpression(u"[@:]"_s));
        runtime.metrics.alerts.append(makeAlert(parts[0], parts[2], u"d"_s, t0.addSecs(parts[1].toInt())));
    }
    return runtime;
}

// Each row's headline, then "!" for the red octagon of a critical alert or "?" for the orange
// triangle of any other.
QStringList rows(const AlertListModel *model)
{
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex i = model->index(row);
        const QVariant icon = i.data(AlertListModel::IconRole), tint = i.data(AlertListModel::TintRole);
        const bool critical = icon == u"exclamation-octagon-fill"_s && tint == color(ColorRole::Red);
        const bool warning = icon == u"exclamation-triangle-fill"_s && tint == color(ColorRole::Orange);
        out.append(i.data().toString() + (critical ? u" !"_s : warning ? u" ?"_s : u" (wrong icon)"_s));
    }
    return out;
}

} // namespace

class TestAlertList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void order_data()
    {
        QTest::addColumn<QList<NodeRuntime>>("nodes");
        QTest::addColumn<QStringList>("expected");
        // The node name prefixes even a single node's alerts; titles are shown as sent.
        QTest::newRow("newest first across nodes, an offline node's earlier reading included")
            << QList<NodeRuntime>{node(u"A"_s, {u"warning@10:a1"_s, u"warning@30:a2"_s}),
                                  node(u"B"_s, {u"critical@20:<b>b1</b>"_s}, NodeStatus::offline)}
            << QStringList{u"A · a2 ?"_s, u"B · <b>b1</b> !"_s, u"A · a1 ?"_s};
        // Only the exact word "critical" gets the octagon in red; anything else is a warning.
        QTest::newRow("equal times keep node order, then reading order")
            << QList<NodeRuntime>{node(u"A"_s, {u"warning@5:a1"_s, u"critical@5:a2"_s}),
                                  node(u"B"_s, {u"Critical@5:b1"_s, u"critical @5:b2"_s})}
            << QStringList{u"A · a1 ?"_s, u"A · a2 !"_s, u"B · b1 ?"_s, u"B · b2 ?"_s};
        NodeRuntime noticesOnly = node(u"A"_s, {}, NodeStatus::online);
        noticesOnly.metrics.notices = QList<ServerAlert>{makeAlert(u"critical"_s, u"n"_s, u"d"_s, t0)};
        QTest::newRow("notices only: the empty state") << QList<NodeRuntime>{noticesOnly} << QStringList{};
    }
    void order()
    {
        QFETCH(QList<NodeRuntime>, nodes);
        QFETCH(QStringList, expected);
        AlertList list;
        list.setNodes({node(u"Z"_s, {u"warning@0:x"_s})}); // the rows of an earlier reading give way
        list.setNodes(nodes);
        QCOMPARE(rows(list.model()), expected);
        QCOMPARE(list.showsEmptyState(), expected.isEmpty());
        // A divider follows every row but the last; the time is the time of day in hours and
        // minutes, without date or seconds.
        for (int row = 0; row < expected.size(); ++row) {
            const QModelIndex index = list.model()->index(row);
            QCOMPARE(index.data(AlertListModel::DividerRole).toBool(), row + 1 < expected.size());
            const QString time = index.data(AlertListModel::TimeRole).toString();
            QVERIFY2(QRegularExpression(u"^\\D*0?9\\D41\\D*$"_s).match(time).hasMatch(), qPrintable(time));
        }
    }

    // Rows are as tall as their wrapped texts, never cut short; the list is as tall as its rows
    // (the page scrolls, never the list) and paints each row's icon in its tint and a divider
    // between rows. Narrower, the texts take more lines and the list grows.
    void rowsGrowWithText()
    {
        NodeRuntime one = node(u"A"_s, {});
        one.metrics.alerts = {makeAlert(u"critical"_s, u"x"_s, u"one line"_s, t0.addSecs(9)),
                              makeAlert(u"warning"_s, u"y"_s, u"first\nsecond\nthird"_s, t0.addSecs(8)),
                              makeAlert(u"warning"_s, QString(1999, u'x'), u"d"_s, t0.addSecs(7))};
        AlertList list;
        list.setNodes({one});
        list.resize(600, 100);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto *view = list.findChild<QAbstractItemView *>();
        QTRY_COMPARE(list.height(), list.sizeHint().height());
        QList<int> heights;
        for (int row = 0; row < 3; ++row)
            heights.append(view->visualRect(list.model()->index(row)).height());
        QVERIFY(heights[1] >= heights[0] + 2 * QFontMetrics(font(TextStyle::Caption)).height());
        // 1,999 characters of about 7 px in a text column under 500 px wide: well over 20 lines.
        QVERIFY(heights[2] > 20 * QFontMetrics(font(TextStyle::Subheadline, QFont::Medium)).height());
        QCOMPARE(view->height(), heights[0] + heights[1] + heights[2]);
        QCOMPARE(view->verticalScrollBar()->maximum(), 0);

        const int wide = list.height();
        const QImage image = list.grab().toImage();
        auto hasColour = [&](int top, int height, const QColor &c) { // in the icon column of one row
            for (int y = top; y < top + height; ++y)
                for (int x = 0; x < 60; ++x)
                    if (image.pixelColor(x, y) == c) return true;
            return false;
        };
        QVERIFY(hasColour(0, heights[0], color(ColorRole::Red)));
        QVERIFY(hasColour(heights[0], heights[1], color(ColorRole::Orange)));
        // The divider darkens the last pixel line of every row but the last.
        const QColor card = image.pixelColor(300, heights[0] / 2);
        QVERIFY(image.pixelColor(300, heights[0] - 1).lightness() < card.lightness());
        QCOMPARE(image.pixelColor(300, wide - 1), image.pixelColor(300, wide - 3));

        list.resize(300, wide);
        QTRY_VERIFY(list.sizeHint().height() > wide);
    }
};

QTEST_MAIN(TestAlertList)
#include "tst_alertlist.moc"
