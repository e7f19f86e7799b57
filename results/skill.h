#pragma once

// Skill of a simulated discharge series against observations, in double precision, over the
// hours where both have a value. A score that is not defined for the data is left empty.

#include <cstdint>
#include <optional>
#include <span>

namespace hydro::gauges {

struct Skill {
    std::int64_t n = 0;  ///< hours with both values
    /// Nash-Sutcliffe efficiency: 1 - sum (s-o)^2 / sum (o-mean o)^2.
    std::optional<double> nse;
    /// Kling-Gupta efficiency (Gupta et al. 2009): 1 - sqrt((r-1)^2 + (a-1)^2 + (b-1)^2),
    /// a = sd s / sd o, b = mean s / mean o, population standard deviations.
    std::optional<double> kge;
    /// Modified KGE (Kling et al. 2012): the variability ratio of the coefficients of
    /// variation, g = (sd s / mean s) / (sd o / mean o), in place of a.
    std::optional<double> kgePrime;
    /// 100 * sum (s-o) / sum o.
    std::optional<double> pbiasPct;
    std::optional<double> peakSim;  ///< largest simulated value of those hours, m3/s
    std::optional<double> peakObs;  ///< largest observed value of those hours, m3/s
    /// 100 * (peak s - peak o) / peak o.
    std::optional<double> peakErrorPct;
    /// Hour of the (first) simulated peak minus hour of the (first) observed peak.
    std::optional<std::int64_t> peakTimingH;
};

/// Scores `sim` (hour 1 first) against `obs` of the same hours. Undefined, and so empty: NSE
/// when the observations are constant; KGE and KGE' when either series is constant or either
/// mean is 0 (and KGE' also when the simulated mean is 0); pbias when the observations sum to
/// 0; the peak error when the observed peak is 0; every score when no hour has both values.
[[nodiscard]] Skill computeSkill(std::span<const double> sim,
                                 std::span<const std::optional<double>> obs);

}  // namespace hydro::gauges
