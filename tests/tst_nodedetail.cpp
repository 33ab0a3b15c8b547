// SPDX-License-Identifier: MIT
#include "ui/AlertList.h"
#include "ui/DetailMetric.h"
#include "ui/ElidedLabel.h"
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

    void show(const MetricsSnapshot &m, NodeStatus status)
    {
        view.setRuntime(
            {ServerNode{u"n1"_s, u"北京-01"_s, u"http://127.0.0.1:9100/metrics"_s, u"t"_s}, m, status, {}});
    }
    template<class T> T *part(const char *name) const
    {
        T *w = view.findChild<T *>(QString::fromLatin1(name));
        if (!w) qFatal("no part %s", name);
        return w;
    }
    // Texts of the three figure tiles with their bar fractions, then the three info cards.
    QStringList shown() const
    {
        QStringList out;
        for (const char *tile : {"cpu", "memory", "disk"})
            out << part<DetailMetric>(tile)->percentText()
                << QString::number(part<DetailMetric>(tile)->bar()->fraction());
        for (const char *card : {"load", "uptime", "services"})
            out << part<InfoCard>(card)->value();
        return out << part<QLabel>("status")->text();
    }

private Q_SLOTS:
    // The page of a node that never answered; then a refresh rewrites the same widgets: figures,
    // tints, status and alerts follow, nothing is rebuilt. The tint of each tile is fixed, whatever
    // the figure.
    void neverAnsweredThenUpdated()
    {
        show(MetricsSnapshot::empty(), NodeStatus::offline);
        QCOMPARE(part<ElidedLabel>("name")->fullText(), u"北京-01"_s);
        QCOMPARE(part<ElidedLabel>("address")->fullText(), u"http://127.0.0.1:9100/metrics"_s);
        QCOMPARE(part<QLabel>("status")->palette().color(QPalette::WindowText), color(ColorRole::GrayText));
        QCOMPARE(shown(), (QStringList{u"0%"_s, u"0"_s, u"0%"_s, u"0"_s, u"0%"_s, u"0"_s, u"0.00"_s, u"0h"_s,
                                       u"0/0"_s, u"离线"_s}));
        QVERIFY(part<AlertList>("alerts")->showsEmptyState());

        const DetailMetric *cpu = part<DetailMetric>("cpu");
        MetricsSnapshot m;
        m.cpuUsage = 42.9;
        m.memoryUsage = 99.99;
        m.diskUsage = -0.5;
        m.servicesRunning = 9; // more running than configured is shown as sent
        m.servicesTotal = 7;
        m.uptimeSeconds = 5 * 3600;
        m.alerts = {makeAlert(u"critical"_s, u"磁盘"_s, u"95%"_s, QDateTime::currentDateTimeUtc()),
                    makeAlert(u"warning"_s, u"负载"_s, u"高"_s, QDateTime::currentDateTimeUtc())};
        show(m, NodeStatus::critical);
        QCOMPARE(part<DetailMetric>("cpu"), cpu);
        QCOMPARE(shown(), (QStringList{u"42%"_s, u"0.429"_s, u"99%"_s, u"0.9999"_s, u"0%"_s, u"0"_s,
                                       u"0.00"_s, u"5h"_s, u"9/7"_s, u"严重"_s}));
        QCOMPARE(part<QLabel>("status")->palette().color(QPalette::WindowText), color(ColorRole::RedText));
        QCOMPARE((QList<QColor>{cpu->bar()->color(), part<DetailMetric>("memory")->bar()->color(),
                                part<DetailMetric>("disk")->bar()->color()}),
                 (QList<QColor>{color(ColorRole::Blue), color(ColorRole::Purple), color(ColorRole::Green)}));
        const AlertList *alerts = part<AlertList>("alerts");
        QCOMPARE(alerts->model()->rowCount(), 2);
        QCOMPARE(alerts->model()->entries().first().nodeName, u"北京-01"_s);
    }
};

QTEST_MAIN(TestNodeDetail)
#include "tst_nodedetail.moc"
