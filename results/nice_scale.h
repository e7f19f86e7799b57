#pragma once

// Axis scales for the hydrograph: a value axis from 0 to a round maximum with round steps,
// an hour axis with steps that divide the day, and fixed, locale-independent number text.

#include <cstdint>
#include <string>

namespace hydro::results {

struct NiceScale {
    double max = 1.0;           ///< top of the axis, at least the data maximum
    double step = 0.2;          ///< distance between ticks (1, 2, 2.5 or 5 times a power of ten)
    std::int32_t steps = 5;     ///< ticks above 0: max == steps * step
    std::int32_t decimals = 1;  ///< digits after the point that show every tick exactly
};

/// The smallest round axis 0..max in at most six steps that holds `dataMax`. A maximum that
/// is not above 0 (or not a number) gives the axis 0..1; one below 1e-6 the axis of 1e-6.
[[nodiscard]] NiceScale niceScale(double dataMax);

/// Hours between labelled ticks of an axis over `hours` hours: 1, 2, 3, 6 or 12, or a
/// multiple of 24, so that at most 12 steps fit.
[[nodiscard]] std::int64_t hourTickStep(std::int64_t hours);

/// `value` with exactly `decimals` digits after the point, whatever the locale.
[[nodiscard]] std::string fixedText(double value, std::int32_t decimals);

/// A tick label of `scale`: fixed with its decimals while that stays short, otherwise in
/// scientific notation.
[[nodiscard]] std::string tickLabel(double value, const NiceScale& scale);

}  // namespace hydro::results
