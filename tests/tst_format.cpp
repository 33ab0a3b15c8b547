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
    // Each row: what a formatter gives for one input, and the text it must give.
    void texts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        auto row = [](const char *name, const QString &actual, const QString &expected) {
            QTest::newRow(name) << actual << expected;
        };
        // Whole-number display truncates toward zero and never fails; the bar keeps the exact
        // fraction, limited to empty and full.
        row("percent 99.99", percentText(99.99), u"99%"_s);
        row("percent -0.4", percentText(-0.4), u"0%"_s);
        row("percent NaN", percentText(std::nan("")), u"—%"_s);
        row("percent 1e300", percentText(1e300), u"—%"_s);
        row("percent largest below 2^63", percentText(9223372036854774784.0), u"9223372036854774784%"_s);
        row("percent 2^63", percentText(9223372036854775808.0), u"—%"_s);
        row("percent -2^63", percentText(-9223372036854775808.0), u"-9223372036854775808%"_s);
        row("bar 99.99", QString::number(barFraction(99.99)), u"0.9999"_s);
        row("bar -0.4", QString::number(barFraction(-0.4)), u"0"_s);
        row("bar 120", QString::number(barFraction(120)), u"1"_s);
        row("bar NaN", QString::number(barFraction(std::nan(""))), u"0"_s);
        row("uptime a second short of a day", uptimeText(86399), u"23h"_s);
        row("uptime exactly a day", uptimeText(86400), u"1d 0h"_s);
        row("uptime a day, an hour and 1.7 s", uptimeText(90061.7), u"1d 1h"_s);
        row("uptime minus a day and an hour", uptimeText(-90000), u"-1h"_s);
        // Capped at the signed 64-bit ends: 9223372036854775807 s and its negative twin.
        row("uptime beyond the 64-bit range", uptimeText(1e19), u"106751991167300d 15h"_s);
        row("uptime below the 64-bit range", uptimeText(-1e19), u"-15h"_s);
        row("uptime NaN", uptimeText(qQNaN()), u"—"_s);
        // Alert times show hours and minutes in every locale, in the locale's order and with its
        // marker; the update time keeps its seconds.
        const QDateTime when(QDate(2024, 3, 1), QTime(13, 5, 9)); // local time, as shown
        auto times = [&](const QLocale &locale) -> QString {
            return shortTime(when, locale) + u" / "_s + standardTime(when, locale);
        };
        row("times C, whose short style has seconds", times(QLocale::c()), u"13:05 / 13:05:09"_s);
        // The space before the marker is the locale data's: U+0020 in older Qt, U+202F from 6.8 on.
        const QLocale us(u"en_US"_s);
        const QString usPattern = us.timeFormat(QLocale::ShortFormat);
        QString gap;
        for (const QChar c : usPattern.sliced(usPattern.indexOf(u"mm"_s) + 2)) {
            if (!c.isSpace()) break;
            gap += c;
        }
        row("times en_US, 12-hour", times(us), u"1:05"_s + gap + u"PM / 1:05:09"_s + gap + u"PM"_s);
        row("times zh_CN", times(QLocale(u"zh_CN"_s)), u"13:05 / 13:05:09"_s);
        const QString limit(2000, u'x');
        row("bounded at the bound", boundedText(limit), limit);
        row("bounded one over", boundedText(limit + u'y'), limit + u'…');
        // U+1F600 is two UTF-16 units; the pair straddling the bound is dropped whole.
        row("bounded surrogate pair across the bound", boundedText(QString(1999, u'x') + u"\U0001F600z"_s),
            QString(1999, u'x') + u'…');
    }
    void texts()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    // Two decimals whatever the locale: here both Qt's default locale and the C library's numeric
    // locale use a comma, from a German locale compiled into a scratch folder so that the test
    // does not depend on installed ones.
    void twoDecimals()
    {
        QProcess localedef;
        localedef.start(u"localedef"_s,
                        {u"-i"_s, u"de_DE"_s, u"-f"_s, u"UTF-8"_s, locales.filePath(u"de_DE.UTF-8"_s)});
        localedef.waitForFinished(30000);
        qputenv("LOCPATH", QFile::encodeName(locales.path()));
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) QSKIP("cannot build a comma-decimal C locale here");
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.2f", 0.5);
        QCOMPARE(QByteArray(probe), "0,50"); // the locale is really in force
        // Binary halves round to even, no grouping, no exponent.
        QCOMPARE(
            (QStringList{fixedTwoDecimals(0.125), fixedTwoDecimals(1234567.891), fixedTwoDecimals(1e20)}),
            (QStringList{u"0.12"_s, u"1234567.89"_s, u"100000000000000000000.00"_s}));
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(QLocale::c());
    }
};

QTEST_MAIN(TestFormat)
#include "tst_format.moc"
