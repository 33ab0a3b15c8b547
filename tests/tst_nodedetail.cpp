#include "ui/AlertList.h"
#include "ui/DetailMetric.h"
#include "ui/Format.h"
#include "ui/InfoCard.h"
#include "ui/MeterBar.h"
#include "ui/NodeDetailView.h"
#include "ui/Style.h"

#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <cstdio>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

class TestNodeDetail : public QObject
{
    Q_OBJECT

private:
    NodeDetailView view;
    QTemporaryDir locales;

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
    // A German locale compiled into a scratch folder, so the test does not depend on installed ones.
    void initTestCase()
    {
        QProcess localedef;
        localedef.start(u"localedef"_s,
                        {u"-i"_s, u"de_DE"_s, u"-f"_s, u"UTF-8"_s, locales.filePath(u"de_DE.UTF-8"_s)});
        localedef.waitForFinished(30000);
        qputenv("LOCPATH", QFile::encodeName(locales.path()));
    }

    void uptime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("a second short of a day") << 86399.0 << u"23h"_s;
        QTest::newRow("exactly a day") << 86400.0 << u"1d 0h"_s;
        QTest::newRow("day, hour, minute, 1.7 s") << 90061.7 << u"1d 1h"_s;
        QTest::newRow("minus half an hour") << -1800.0 << u"0h"_s;
        QTest::newRow("minus a day and an hour") << -90000.0 << u"-1h"_s;
        // Capped at the signed 64-bit ends: 9223372036854775807 s and its negative twin.
        QTest::newRow("beyond the 64-bit range") << 1e19 << u"106751991167300d 15h"_s;
        QTest::newRow("below the 64-bit range") << -1e19 << u"-15h"_s;
        QTest::newRow("not a number") << qQNaN() << u"—"_s;
    }
    void uptime()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(uptimeText(seconds), text);
    }

    void loadText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("printf rounding") << 12.345678 << u"12.35"_s;
        QTest::newRow("binary half rounds to even") << 0.125 << u"0.12"_s;
        QTest::newRow("no grouping") << 1234567.891 << u"1234567.89"_s;
        QTest::newRow("huge") << 1e20 << u"100000000000000000000.00"_s;
    }
    // Both Qt's default locale and the C library's numeric locale use a comma here.
    void loadText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) QSKIP("cannot build a comma-decimal C locale here");
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.2f", 0.5);
        QCOMPARE(QByteArray(probe), "0,50"); // the locale is really in force

        QCOMPARE(fixedTwoDecimals(value), text);
        MetricsSnapshot m;
        m.loadAverage = value;
        view.setRuntime(runtime(m, NodeStatus::online));
        QCOMPARE(part<InfoCard>("load")->value(), text);

        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(QLocale::c());
    }

    void neverAnswered()
    {
        view.setRuntime(runtime(MetricsSnapshot::empty(), NodeStatus::offline));
        QCOMPARE(part<QLabel>("name")->text(), u"北京-01"_s);
        QCOMPARE(part<QLabel>("address")->text(), u"http://127.0.0.1:9100/metrics"_s);
        QCOMPARE(part<QLabel>("status")->text(), u"离线"_s);
        QCOMPARE(part<QLabel>("status")->palette().color(QPalette::WindowText), color::gray());
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
        QTest::newRow("over a hundred") << 130.0 << u"130%"_s << 1.0;
        QTest::newRow("slightly negative") << -0.5 << u"0%"_s << 0.0;
        QTest::newRow("beyond 64 bits") << 1e300 << u"—%"_s << 1.0;
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
        const QList<std::pair<const char *, QColor>> tiles = {
            {"cpu", color::blue()}, {"memory", color::purple()}, {"disk", color::green()}};
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
        QCOMPARE(part<QLabel>("status")->palette().color(QPalette::WindowText), color::red());

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
