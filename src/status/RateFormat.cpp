#include "RateFormat.h"

#include <array>
#include <cmath>

namespace status {
namespace {
struct Unit
{
    double divisor;
    const char* name;
};
constexpr std::array<Unit, 4> kUnits = {{
    {1.0, "B/s"},
    {1024.0, "KiB/s"},
    {1024.0 * 1024.0, "MiB/s"},
    {1024.0 * 1024.0 * 1024.0, "GiB/s"},
}};
constexpr double kSmallestTop = 10.0; // B/s
constexpr double kIntervals = 4.0;

/** The largest unit `value` reaches (B/s for anything below 1 KiB/s). */
Unit unitFor(double value)
{
    Unit unit = kUnits.front();
    for (const Unit& u : kUnits) {
        if (value >= u.divisor)
            unit = u;
    }
    return unit;
}

/** The 1, 2 or 5 times a power of ten nearest to `raw` on a logarithmic scale. */
double niceStep(double raw)
{
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double mantissa = raw / power; // 1 <= mantissa < 10
    double nice = 10.0;
    if (mantissa < std::sqrt(2.0)) // between 1 and 2
        nice = 1.0;
    else if (mantissa < std::sqrt(10.0)) // between 2 and 5
        nice = 2.0;
    else if (mantissa < std::sqrt(50.0)) // between 5 and 10
        nice = 5.0;
    return nice * power;
}

/** Decimals that show a multiple of `step` (in the unit) exactly. */
int decimalsFor(double step)
{
    return step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}
} // namespace

std::vector<double> RateAxis::ticks() const
{
    std::vector<double> values;
    if (step <= 0.0)
        return values;
    const int count = static_cast<int>(std::lround(top / step));
    for (int i = 0; i <= count; ++i)
        values.push_back(step * i);
    return values;
}

QString RateAxis::label(double bytesPerSecond, const QLocale& locale) const
{
    return locale.toString(bytesPerSecond / divisor, 'f', decimals) + QLatin1Char(' ') + QLatin1String(unit);
}

RateAxis rateAxis(double largest)
{
    if (!(largest > kSmallestTop)) // also NaN
        largest = kSmallestTop;
    const Unit unit = unitFor(largest);
    const double inUnit = largest / unit.divisor;
    const double step = niceStep(inUnit / kIntervals);
    // The first step at or above the largest value; a hair of rounding does not add a step.
    const double top = std::ceil(inUnit / step - 1e-9) * step;
    RateAxis axis;
    axis.divisor = unit.divisor;
    axis.unit = unit.name;
    axis.step = step * unit.divisor;
    axis.top = top * unit.divisor;
    axis.decimals = decimalsFor(step);
    return axis;
}

QString rateText(double bytesPerSecond, const QLocale& locale)
{
    if (!(bytesPerSecond > 0.0))
        return locale.toString(0) + QStringLiteral(" B/s");
    const Unit unit = unitFor(bytesPerSecond);
    const double inUnit = bytesPerSecond / unit.divisor;
    // Three significant digits; whole bytes need no decimals.
    int decimals = inUnit < 10.0 ? 2 : inUnit < 100.0 ? 1 : 0;
    if (unit.divisor == 1.0)
        decimals = inUnit < 10.0 ? 1 : 0;
    return locale.toString(inUnit, 'f', decimals) + QLatin1Char(' ') + QLatin1String(unit.name);
}
} // namespace status
