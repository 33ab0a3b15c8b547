// SPDX-License-Identifier: MIT
#include "ui/Format.h"

#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <cstdio>

using namespace vantor::ui;
using namespace Qt::StringLiterals;

class TestFormat : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir locales;

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

    // Whole-number display truncates toward zero and never fails; the bar keeps the exact fraction,
    // limited to empty and full.
    void percent_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("fraction");
        QTest::newRow("99.99") << 99.99 << u"99%"_s << 0.9999;
        QTest::newRow("-0.4") << -0.4 << u"0%"_s << 0.0;
        QTest::newRow("120") << 120.0 << u"120%"_s << 1.0;
        QTest::newRow("-5") << -5.0 << u"-5%"_s << 0.0;
        QTest::newRow("NaN") << std::nan("") << u"—%"_s << 0.0;
        QTest::newRow("1e300") << 1e300 << u"—%"_s << 1.0;
        QTest::newRow("-1e300") << -1e300 << u"—%"_s << 0.0;
        QTest::newRow("largest below 2^63") << 9223372036854774784.0 << u"9223372036854774784%"_s << 1.0;
        QTest::newRow("2^63") << 9223372036854775808.0 << u"—%"_s << 1.0;
        QTest::newRow("-2^63") << -9223372036854775808.0 << u"-9223372036854775808%"_s << 0.0;
    }
    void percent()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QFETCH(double, fraction);
        QCOMPARE(percentText(value), text);
        QVERIFY(qAbs(barFraction(value) - fraction) < 1e-12);
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

    void twoDecimals_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("printf rounding") << 12.345678 << u"12.35"_s;
        QTest::newRow("binary half rounds to even") << 0.125 << u"0.12"_s;
        QTest::newRow("no grouping") << 1234567.891 << u"1234567.89"_s;
        QTest::newRow("huge") << 1e20 << u"100000000000000000000.00"_s;
    }
    // Both Qt's default locale and the C library's numeric locale use a comma here.
    void twoDecimals()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) QSKIP("cannot build a comma-decimal C locale here");
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.2f", 0.5);
        QCOMPARE(QByteArray(probe), "0,50"); // the locale is really in force
        QCOMPARE(fixedTwoDecimals(value), text);
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(QLocale::c());
    }

    // Alert times show hours and minutes in every locale, in the locale's order and with its
    // marker; the update time keeps its seconds.
    void timeOfDay_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("shortText");
        QTest::addColumn<QString>("standardText");
        QTest::newRow("C, whose short style has seconds") << u"C"_s << u"13:05"_s << u"13:05:09"_s;
        QTest::newRow("en_US, 12-hour") << u"en_US"_s << u"1:05 PM"_s << u"1:05:09 PM"_s;
        QTest::newRow("zh_CN") << u"zh_CN"_s << u"13:05"_s << u"13:05:09"_s;
    }
    void timeOfDay()
    {
        QFETCH(QString, locale);
        QFETCH(QString, shortText);
        QFETCH(QString, standardText);
        const QDateTime when(QDate(2024, 3, 1), QTime(13, 5, 9)); // local time, as shown
        QCOMPARE(shortTime(when, QLocale(locale)), shortText);
        QCOMPARE(standardTime(when, QLocale(locale)), standardText);
    }

    void bounded_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const QString limit(2000, u'x');
        QTest::newRow("short") << u"磁盘"_s << u"磁盘"_s;
        QTest::newRow("at the bound") << limit << limit;
        QTest::newRow("one over") << limit + u'y' << limit + u'…';
        // U+1F600 is two UTF-16 units; the pair straddling the bound is dropped whole.
        QTest::newRow("surrogate pair across the bound")
            << QString(1999, u'x') + u"\U0001F600z"_s << QString(1999, u'x') + u'…';
    }
    void bounded()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(boundedText(text), shown);
    }
};

QTEST_MAIN(TestFormat)
#include "tst_format.moc"
