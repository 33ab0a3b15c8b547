#include "Format.h"

#include <cmath>

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

} // namespace vantor::ui
