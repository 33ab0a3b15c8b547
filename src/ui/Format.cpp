// SPDX-License-Identifier: MIT
#include "Format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace vantor::ui {

using namespace Qt::StringLiterals;

std::optional<qint64> truncated(double value)
{
    // 2^63 is exactly representable; every double below it (and at or above -2^63) fits.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= limit || value < -limit) return std::nullopt;
    return static_cast<qint64>(value);
}

QString wholeNumber(double value)
{
    const auto n = truncated(value);
    return n ? QString::number(*n) : u"—"_s;
}

QString percentText(double value)
{
    return wholeNumber(value) + u'%';
}

double barFraction(double value)
{
    if (std::isnan(value)) return 0;
    return std::clamp(value / 100.0, 0.0, 1.0);
}

QString uptimeText(double seconds)
{
    if (std::isnan(seconds)) return u"—"_s;
    const qint64 s = truncated(seconds).value_or(seconds > 0 ? std::numeric_limits<qint64>::max()
                                                             : std::numeric_limits<qint64>::min());
    // Both divisions truncate toward zero, and d * 86400 never exceeds |s|, so nothing overflows.
    const qint64 d = s / 86400;
    const qint64 h = (s - d * 86400) / 3600;
    if (s >= 86400) return QString::number(d) + u"d "_s + QString::number(h) + u'h';
    return QString::number(h) + u'h';
}

QString fixedTwoDecimals(double value)
{
    // to_chars is specified to print as printf does in the C locale, independent of setlocale().
    // The largest double has 309 integer digits.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString boundedText(const QString &text)
{
    if (text.size() <= maxShownLength) return text;
    qsizetype end = maxShownLength;
    if (text.at(end - 1).isHighSurrogate()) --end;
    return text.left(end) + u'…';
}

QString shortTimeFormat(const QLocale &locale)
{
    // Drop the seconds and the separator before them ("HH:mm:ss" -> "HH:mm"), keeping the rest of
    // the locale's order, separators and AM/PM marker.
    const QString pattern = locale.timeFormat(QLocale::ShortFormat);
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == u'\'') quoted = !quoted;
        if (quoted || (c != u's' && c != u'z')) {
            out.append(c);
            continue;
        }
        // Remove the separator written since the minutes.
        while (!out.isEmpty() && !out.back().isLetter() && out.back() != u'\'' && !out.back().isSpace())
            out.chop(1);
        while (i + 1 < pattern.size() && (pattern.at(i + 1) == u's' || pattern.at(i + 1) == u'z'))
            ++i;
    }
    return out.trimmed();
}

QString shortTime(const QDateTime &when, const QLocale &locale)
{
    return locale.toString(when.toLocalTime().time(), shortTimeFormat(locale));
}

QString standardTimeFormat(const QLocale &locale)
{
    // QLocale has no "medium" time style: its long style adds the time zone. Derive it from the
    // short pattern instead, the way the platform patterns relate ("h:mm AP" -> "h:mm:ss AP").
    const QString pattern = locale.timeFormat(QLocale::ShortFormat);
    qsizetype hourEnd = -1, minuteStart = -1, minuteEnd = -1;
    bool quoted = false, hasSeconds = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (quoted) continue;
        if (c == u'h' || c == u'H') hourEnd = i + 1;
        if (c == u's') hasSeconds = true;
        if (c == u'm') {
            if (minuteStart < 0 || i != minuteEnd) minuteStart = i;
            minuteEnd = i + 1;
        }
    }
    if (hasSeconds) return pattern;
    if (minuteEnd < 0) return locale.timeFormat(QLocale::LongFormat).remove(u't').trimmed();

    QString separator = u":"_s;
    if (hourEnd >= 0 && hourEnd < minuteStart) {
        const QString between = pattern.mid(hourEnd, minuteStart - hourEnd);
        if (!between.isEmpty() &&
            std::none_of(between.begin(), between.end(), [](QChar c) { return c.isLetter() || c == u'\''; }))
            separator = between;
    }
    return pattern.left(minuteEnd) + separator + u"ss"_s + pattern.mid(minuteEnd);
}

QString standardTime(const QDateTime &when, const QLocale &locale)
{
    return locale.toString(when.toLocalTime().time(), standardTimeFormat(locale));
}

} // namespace vantor::ui
