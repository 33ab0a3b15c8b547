// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

namespace vantor::ui {

// Truncates toward zero; absent when the value is NaN, infinite or outside the signed 64-bit range.
std::optional<qint64> truncated(double value);

// "%lld" of the truncated value, or a dash when it cannot be represented: showing a figure never fails.
QString wholeNumber(double value);
QString percentText(double value); // wholeNumber + "%"

// The filled fraction of a percentage bar: value / 100 limited to 0..1 (NaN gives 0).
double barFraction(double value);

// A time of day in the locale's own style, without a date, in local time.
// shortTime: hours and minutes. standardTime: hours, minutes and seconds, no time zone.
QString shortTime(const QDateTime &when, const QLocale &locale = QLocale::system());
QString standardTime(const QDateTime &when, const QLocale &locale = QLocale::system());
// The pattern shortTime uses: the locale's short pattern without seconds (the C locale's has them).
QString shortTimeFormat(const QLocale &locale);
// The pattern standardTime uses: the locale's short pattern with seconds after the minutes.
QString standardTimeFormat(const QLocale &locale);

// A running time as whole days and hours ("3d 4h", "5h", "-2h"); minutes and seconds are dropped.
// Seconds beyond the signed 64-bit range are capped at its ends; NaN gives a dash.
QString uptimeText(double seconds);

// Texts from the data are laid out at most this long, so one huge reading cannot stall the screen.
constexpr qsizetype maxShownLength = 2000;
// The first maxShownLength characters of `text`, then "…"; shorter texts come back unchanged. A
// character made of two UTF-16 units is never split.
QString boundedText(const QString &text);

// Two decimals with a full stop, rounded as printf's "%.2f" rounds, whatever the Qt or C locale.
QString fixedTwoDecimals(double value);

} // namespace vantor::ui
