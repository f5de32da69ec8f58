#pragma once

// Byte rates as people read them: a figure in B/s, KiB/s, MiB/s or GiB/s with the locale's digits and
// decimal sign, and a value axis whose ticks are round numbers of one unit.

#include <QLocale>
#include <QString>

#include <vector>

namespace status {
/** A value axis for byte rates: from 0 to `top` in steps of `step` (both in B/s); the labels count in
 *  `unit` (B/s, KiB/s, …, worth `divisor` B/s) with `decimals` decimals. */
struct RateAxis
{
    double top = 0.0;
    double step = 0.0;
    double divisor = 1.0;
    const char* unit = "B/s";
    int decimals = 0;

    /** The tick values from 0 to top, in B/s. */
    std::vector<double> ticks() const;
    /** A tick's label: "1.5 KiB/s" (with the locale's decimal sign and digit grouping). */
    QString label(double bytesPerSecond, const QLocale& locale) const;
};

/** The axis for values up to `largest` B/s: the unit is the largest one `largest` reaches, the step a
 *  1, 2 or 5 times a power of ten of that unit that gives about four intervals, and the top the first
 *  step at or above `largest`. Up to 10 B/s (no traffic, or a trickle) the axis reaches 10 B/s. */
RateAxis rateAxis(double largest);

/** A rate as a figure: three significant digits in the largest unit it reaches ("0 B/s", "512 B/s",
 *  "1.50 KiB/s", "12.3 MiB/s"), in the locale's digits. */
QString rateText(double bytesPerSecond, const QLocale& locale);
} // namespace status
