#include "ui/AlertList.h"
#include "ui/DetailMetric.h"
#include "ui/ElidedLabel.h"
#include "ui/Format.h"
#include "ui/InfoCard.h"
#include "ui/MeterBar.h"
#include "ui/NodeDetailView.h"
#include "ui/Style.h"

#include <QLabel>
#include <QtTest>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

class TestNodeDetail : public QObject
{
    Q_OBJECT

private:
    NodeDetailView view;

    NodeRuntime runtime(const MetricsSnapshot &m, NodeStatus status) const
    {
        return {ServerNode{u"n1"_s, u"北京-01"_s, u"http://127.0.0.1:9100/metrics"_s, u"t"_s}, m, status, {}};
    }
    template<class T> T *part(const char *name) const
    {
        T *w = view.findChild<T *>(QString::fromLatin1(name));
        if (!w) qFatal("no part %s", name);
        return w;
    }

private Q_SLOTS:
    void neverAnswered()
    {
        view.setRuntime(runtime(MetricsSnapshot::empty(), NodeStatus::offline));
        QCOMPARE(part<ElidedLabel>("name")->fullText(), u"北京-01"_s);
        QCOMPARE(part<ElidedLabel>("address")->fullText(), u"http://127.0.0.1:9100/metrics"_s);
        QCOMPARE(part<QLabel>("status")->text(), u"离线"_s);
        QCOMPARE(part<QLabel>("status")->palette().color(QPalette::WindowText), color(ColorRole::GrayText));
        QStringList shown;
        for (const char *tile : {"cpu", "memory", "disk"})
            shown << part<DetailMetric>(tile)->percentText()
                  << QString::number(part<DetailMetric>(tile)->bar()->fraction());
        for (const char *card : {"load", "uptime", "services"})
            shown << part<InfoCard>(card)->value();
        QCOMPARE(shown, (QStringList{u"0%"_s, u"0"_s, u"0%"_s, u"0"_s, u"0%"_s, u"0"_s, u"0.00"_s, u"0h"_s,
                                     u"0/0"_s}));
        QVERIFY(part<AlertList>("alerts")->showsEmptyState());
    }

    void tiles_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("fraction");
        QTest::newRow("almost full") << 99.99 << u"99%"_s << 0.9999;
        QTest::newRow("slightly negative") << -0.5 << u"0%"_s << 0.0;
    }
    // The tint of each tile is fixed, whatever the figure.
    void tiles()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QFETCH(double, fraction);
        MetricsSnapshot m;
        m.cpuUsage = m.memoryUsage = m.diskUsage = value;
        view.setRuntime(runtime(m, NodeStatus::warning));
        const QList<std::pair<const char *, QColor>> tiles = {{"cpu", color(ColorRole::Blue)},
                                                              {"memory", color(ColorRole::Purple)},
                                                              {"disk", color(ColorRole::Green)}};
        for (const auto &[name, tint] : tiles) {
            const DetailMetric *tile = part<DetailMetric>(name);
            QCOMPARE(tile->percentText(), text);
            QVERIFY(qAbs(tile->bar()->fraction() - fraction) < 1e-12);
            QCOMPARE(tile->bar()->color(), tint);
        }
    }

    // A refresh rewrites the same widgets: figures and status follow, nothing is rebuilt.
    void updatesInPlace()
    {
        view.setRuntime(runtime(MetricsSnapshot::empty(), NodeStatus::offline));
        const DetailMetric *cpu = part<DetailMetric>("cpu");
        MetricsSnapshot m;
        m.cpuUsage = 42.9;
        m.servicesRunning = 9; // more running than configured is shown as sent
        m.servicesTotal = 7;
        m.uptimeSeconds = 5 * 3600;
        view.setRuntime(runtime(m, NodeStatus::critical));
        QCOMPARE(part<DetailMetric>("cpu"), cpu);
        QCOMPARE(cpu->percentText(), u"42%"_s);
        QCOMPARE(part<InfoCard>("services")->value(), u"9/7"_s);
        QCOMPARE(part<InfoCard>("uptime")->value(), u"5h"_s);
        QCOMPARE(part<QLabel>("status")->text(), u"严重"_s);
        QCOMPARE(part<QLabel>("status")->palette().color(QPalette::WindowText), color(ColorRole::RedText));

        // The alert list follows too, and holds this node's alerts alone.
        m.alerts = {makeAlert(u"critical"_s, u"磁盘"_s, u"95%"_s, QDateTime::currentDateTimeUtc()),
                    makeAlert(u"warning"_s, u"负载"_s, u"高"_s, QDateTime::currentDateTimeUtc())};
        view.setRuntime(runtime(m, NodeStatus::critical));
        const AlertList *alerts = part<AlertList>("alerts");
        QVERIFY(!alerts->showsEmptyState());
        QCOMPARE(alerts->model()->rowCount(), 2);
        QCOMPARE(alerts->model()->entries().first().nodeName, u"北京-01"_s);
    }
};

QTEST_MAIN(TestNodeDetail)
#include "tst_nodedetail.moc"
