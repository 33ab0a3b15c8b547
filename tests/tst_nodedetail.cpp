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

    NodeDetailView view;

    void show(const MetricsSnapshot &m, NodeStatus status)
    {
        view.setRuntime(
            {ServerNode{u"n1"_s, u"北京-01"_s, u"http://127.0.0.1:9100/metrics"_s, u"t"_s}, m, status, {}});
    }
    template<class T> T *part(const char *name) const
    {
        return view.findChild<T *>(QString::fromLatin1(name));
    }
    // The address, the three figure tiles with their bar fractions and tints (fixed whatever the
    // figure), the three info cards and the status with its colour.
    QStringList shown() const
    {
        QStringList out{part<ElidedLabel>("address")->fullText()};
        for (const char *tile : {"cpu", "memory", "disk"})
            out << part<DetailMetric>(tile)->percentText()
                << QString::number(part<DetailMetric>(tile)->bar()->fraction())
                << part<DetailMetric>(tile)->bar()->color().name();
        for (const char *card : {"load", "uptime", "services"})
            out << part<InfoCard>(card)->value();
        return out << part<QLabel>("status")->text()
                   << part<QLabel>("status")->palette().color(QPalette::WindowText).name();
    }

private Q_SLOTS:
    // The page of a node that never answered; then a refresh rewrites the same widgets: figures,
    // status and alerts follow, nothing is rebuilt.
    void neverAnsweredThenUpdated()
    {
        const QString address = u"http://127.0.0.1:9100/metrics"_s;
        const QString blue = color(ColorRole::Blue).name(), purple = color(ColorRole::Purple).name(),
                      green = color(ColorRole::Green).name();
        show(MetricsSnapshot::empty(), NodeStatus::offline);
        QCOMPARE(shown(),
                 (QStringList{address, u"0%"_s, u"0"_s, blue, u"0%"_s, u"0"_s, purple, u"0%"_s, u"0"_s, green,
                              u"0.00"_s, u"0h"_s, u"0/0"_s, u"离线"_s, color(ColorRole::GrayText).name()}));

        const DetailMetric *cpu = part<DetailMetric>("cpu");
        // CPU, memory, disk, uptime, load, services running and configured: more running than
        // configured is shown as sent.
        MetricsSnapshot m{42.9, 99.99, -0.5, 5 * 3600, 0, 9, 7};
        m.alerts = {makeAlert(u"critical"_s, u"磁盘"_s, u"95%"_s, QDateTime::currentDateTimeUtc())};
        show(m, NodeStatus::critical);
        QCOMPARE(part<DetailMetric>("cpu"), cpu);
        QCOMPARE(shown(), (QStringList{address, u"42%"_s, u"0.429"_s, blue, u"99%"_s, u"0.9999"_s, purple,
                                       u"0%"_s, u"0"_s, green, u"0.00"_s, u"5h"_s, u"9/7"_s, u"严重"_s,
                                       color(ColorRole::RedText).name()}));
        QCOMPARE(part<AlertList>("alerts")->model()->entries().value(0).nodeName, u"北京-01"_s);
    }
};

QTEST_MAIN(TestNodeDetail)
#include "tst_nodedetail.moc"
