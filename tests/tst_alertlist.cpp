// SPDX-License-Identifier: MIT
#include "ui/AlertList.h"
#include "ui/Format.h"
#include "ui/Style.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QScrollBar>
#include <QtTest>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(NodeRuntime)

namespace {

const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);

// "severity@secondsAfterT0:title" for each alert of one node.
NodeRuntime node(const QString &name, const QStringList &alerts, NodeStatus status = NodeStatus::warning)
{
    NodeRuntime runtime;
    runtime.node = {name.toLower(), name, u"http://127.0.0.1:9100/metrics"_s, {}};
    runtime.status = status;
    for (const QString &entry : alerts) {
        const QString severity = entry.section(u'@', 0, 0);
        const int offset = entry.section(u'@', 1).section(u':', 0, 0).toInt();
        runtime.metrics.alerts.append(
            makeAlert(severity, entry.section(u':', 1), u"d"_s, t0.addSecs(offset)));
    }
    return runtime;
}

QStringList headlines(const AlertListModel *model)
{
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row)
        out.append(model->index(row).data().toString());
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
        QTest::newRow("newest first across nodes")
            << QList<NodeRuntime>{node(u"A"_s, {u"warning@10:a1"_s, u"warning@30:a2"_s}),
                                  node(u"B"_s, {u"critical@20:b1"_s})}
            << QStringList{u"A · a2"_s, u"B · b1"_s, u"A · a1"_s};
        QTest::newRow("equal times keep node order, then reading order")
            << QList<NodeRuntime>{node(u"A"_s, {u"warning@5:a1"_s, u"critical@5:a2"_s}),
                                  node(u"B"_s, {u"critical@5:b1"_s}), node(u"C"_s, {u"warning@5:c1"_s})}
            << QStringList{u"A · a1"_s, u"A · a2"_s, u"B · b1"_s, u"C · c1"_s};
        QTest::newRow("offline node keeps listing its earlier reading")
            << QList<NodeRuntime>{node(u"A"_s, {u"warning@1:old"_s}, NodeStatus::offline)}
            << QStringList{u"A · old"_s};
    }
    void order()
    {
        QFETCH(QList<NodeRuntime>, nodes);
        QFETCH(QStringList, expected);
        AlertList list;
        list.setNodes(nodes);
        QCOMPARE(headlines(list.model()), expected);
        QVERIFY(!list.showsEmptyState());
        // A divider follows every row but the last, within a node and between nodes.
        for (int row = 0; row < expected.size(); ++row)
            QCOMPARE(list.model()->index(row).data(AlertListModel::DividerRole).toBool(),
                     row + 1 < expected.size());
    }

    // Only the exact word "critical" gets the octagon in red; anything else is a warning.
    void severityIcon()
    {
        const QString octagon = u"exclamation-octagon-fill"_s, triangle = u"exclamation-triangle-fill"_s;
        const std::tuple<QString, QString, QColor> rows[] = {
            {u"critical"_s, octagon, color(ColorRole::Red)},
            {u"Critical"_s, triangle, color(ColorRole::Orange)},
            {u"critical "_s, triangle, color(ColorRole::Orange)},
            {QString(), triangle, color(ColorRole::Orange)}};
        for (const auto &[severity, icon, tint] : rows) {
            AlertList list;
            list.setNodes({node(u"A"_s, {severity + u"@0:x"_s})});
            const QModelIndex row = list.model()->index(0);
            QCOMPARE(row.data(AlertListModel::IconRole).toString(), icon);
            QCOMPARE(row.data(AlertListModel::TintRole).value<QColor>(), tint);
        }
    }

    void emptyState_data()
    {
        QTest::addColumn<QList<NodeRuntime>>("nodes");
        QTest::newRow("no nodes") << QList<NodeRuntime>{};
        QTest::newRow("never answered") << QList<NodeRuntime>{node(u"A"_s, {}, NodeStatus::offline)};
        NodeRuntime noticesOnly = node(u"A"_s, {}, NodeStatus::online);
        noticesOnly.metrics.notices = QList<ServerAlert>{makeAlert(u"critical"_s, u"n"_s, u"d"_s, t0)};
        QTest::newRow("notices only") << QList<NodeRuntime>{noticesOnly};
    }
    void emptyState()
    {
        QFETCH(QList<NodeRuntime>, nodes);
        AlertList list;
        list.setNodes({node(u"A"_s, {u"warning@0:x"_s})}); // from rows back to the empty state
        list.setNodes(nodes);
        QCOMPARE(list.model()->rowCount(), 0);
        QVERIFY(list.showsEmptyState());
        QStringList texts;
        for (const QLabel *label : list.findChildren<QLabel *>())
            if (label->isVisibleTo(&list)) texts.append(label->text());
        QVERIFY(texts.contains(u"暂无告警"_s) && texts.contains(u"所有节点均处于正常状态"_s));
    }

    // The row texts: the node name prefixes even a single node's alerts, the detail is shown as
    // sent and the time is the time of day in hours and minutes, without date or seconds.
    void rowTexts()
    {
        AlertList list;
        NodeRuntime one = node(u"北京-01"_s, {});
        const QDateTime yesterday(QDate::currentDate().addDays(-1), QTime(9, 41, 27));
        one.metrics.alerts.append(makeAlert(u"warning"_s, u"<b>磁盘</b>"_s, u"根分区 91%"_s, yesterday));
        list.setNodes({one});
        const QModelIndex row = list.model()->index(0);
        QCOMPARE(row.data().toString(), u"北京-01 \u00B7 <b>磁盘</b>"_s);
        QCOMPARE(row.data(AlertListModel::DetailRole).toString(), u"根分区 91%"_s);
        const QString time = row.data(AlertListModel::TimeRole).toString();
        QVERIFY2(time.contains(u"41"_s) && !time.contains(u"27"_s), qPrintable(time));
    }

    // Rows are as tall as their wrapped texts, never cut short; the list is as tall as its rows
    // (the page scrolls, never the list) and paints each row's icon in its tint and a divider
    // between rows.
    void rowsGrowWithText()
    {
        const QString longTitle(1999, u'x'); // just under the bound: shown whole, over many lines
        NodeRuntime one = node(u"A"_s, {});
        one.metrics.alerts = {makeAlert(u"critical"_s, u"x"_s, u"one line"_s, t0.addSecs(9)),
                              makeAlert(u"warning"_s, u"y"_s, u"first\nsecond\nthird"_s, t0.addSecs(8)),
                              makeAlert(u"warning"_s, longTitle, u"d"_s, t0.addSecs(7))};
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
        const int captionLine = QFontMetrics(font(TextStyle::Caption)).height();
        QVERIFY2(heights[1] >= heights[0] + 2 * captionLine, qPrintable(QString::number(heights[1])));
        // 1,999 characters of about 7 px in a text column under 500 px wide: well over 20 lines.
        const int headlineLine = QFontMetrics(font(TextStyle::Subheadline, QFont::Medium)).height();
        QVERIFY2(heights[2] > 20 * headlineLine, qPrintable(QString::number(heights[2])));
        QCOMPARE(list.model()->index(2).data().toString(), u"A · "_s + longTitle);
        QCOMPARE(view->height(), heights[0] + heights[1] + heights[2]);
        QCOMPARE(view->verticalScrollBar()->maximum(), 0);

        // Narrower: the texts take more lines and the list grows.
        const int wide = list.height();
        list.resize(300, list.height());
        QTRY_VERIFY(list.sizeHint().height() > wide);

        list.resize(600, list.height());
        QTRY_COMPARE(list.sizeHint().height(), wide);
        list.resize(600, wide);
        const QImage image = list.grab().toImage();
        auto hasColour = [&](int top, int height, const QColor &c) { // in the icon column of one row
            for (int y = top; y < top + height; ++y)
                for (int x = 0; x < 60; ++x) {
                    const QColor p = image.pixelColor(x, y);
                    if (qAbs(p.red() - c.red()) + qAbs(p.green() - c.green()) + qAbs(p.blue() - c.blue()) <
                        30)
                        return true;
                }
            return false;
        };
        QVERIFY(hasColour(0, heights[0], color(ColorRole::Red)));
        QVERIFY(!hasColour(0, heights[0], color(ColorRole::Orange)));
        QVERIFY(hasColour(heights[0], heights[1], color(ColorRole::Orange)));
        // The divider darkens the last pixel line of every row but the last.
        const QColor card = image.pixelColor(300, heights[0] / 2);
        QVERIFY(image.pixelColor(300, heights[0] - 1).lightness() < card.lightness());
        QCOMPARE(image.pixelColor(300, wide - 1), image.pixelColor(300, wide - 3));
    }
};

QTEST_MAIN(TestAlertList)
#include "tst_alertlist.moc"
