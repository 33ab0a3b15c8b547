#pragma once

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

} // namespace vantor::ui
