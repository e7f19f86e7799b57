#pragma once

// The spread of an ensemble's series: quantiles of the members hour by hour and the share of
// members above a threshold.

#include <array>
#include <span>
#include <string>
#include <vector>

namespace hydro::ensemble {

/// The probabilities of the quantile table's columns q05, q25, q50, q75 and q95.
inline constexpr std::array<double, 5> kQuantileLevels{0.05, 0.25, 0.5, 0.75, 0.95};

/// The `p`-quantile (0 <= p <= 1) of `sorted` (ascending, not empty) by linear interpolation
/// between order statistics (Hyndman and Fan's type 7): with h = (n - 1) p,
/// x[floor h] + (h - floor h) (x[floor h + 1] - x[floor h]), in double precision.
[[nodiscard]] double quantileOfSorted(std::span<const double> sorted, double p);

/// Per hour, the quantiles kQuantileLevels of the members' values of that hour.
/// `members[m][h]` is member m's value of hour h; every member has the same hours.
[[nodiscard]] std::vector<std::array<double, 5>> hourlyQuantiles(
    const std::vector<const std::vector<float>*>& members);

/// Per hour, the share of members whose value is above `threshold` (strictly).
[[nodiscard]] std::vector<double> hourlyExceedance(
    const std::vector<const std::vector<float>*>& members, double threshold);

}  // namespace hydro::ensemble
