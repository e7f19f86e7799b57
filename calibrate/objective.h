#pragma once

// What a calibration maximises: one score of each gauge's simulated series against its
// observations after the warm-up hours, averaged over the gauges (equally, or with weights).

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "results/skill.h"

namespace hydro::calibrate {

enum class Objective { kKge, kKgePrime, kNse, kLogNse };

/// "kge", "kge-prime", "nse", "log-nse".
[[nodiscard]] const char* objectiveName(Objective objective);
/// "KGE", "KGE'", "NSE", "log-NSE".
[[nodiscard]] const char* objectiveLabel(Objective objective);
[[nodiscard]] std::optional<Objective> objectiveNamed(std::string_view name);

/// The score a simulation of the mean observed flow gets (Knoben et al. 2019): 1 - sqrt(2)
/// for KGE and KGE', 0 for the two NSE.
[[nodiscard]] double noSkillScore(Objective objective);

/// Scores of one gauge over the hours after the warm-up.
struct GaugeScore {
    gauges::Skill skill;
    /// NSE of log(Q + e) with e a hundredth of the mean observation (Pushpalatha et al. 2012).
    std::optional<double> logNse;
};

/// Scores `sim` (hours 1..H) against `obs` of the same hours, leaving out hours 1..warmup. A
/// series with any value that is not finite gets no score at all (n = 0).
[[nodiscard]] GaugeScore scoreGauge(std::span<const float> sim,
                                    std::span<const std::optional<double>> obs,
                                    std::int64_t warmupHours);

/// The objective of a run: the weighted mean of each gauge's `objective` score; empty when a
/// gauge with a weight above 0 has no such score (its series constant, not finite, ...).
[[nodiscard]] std::optional<double> combine(Objective objective, std::span<const GaugeScore> scores,
                                            std::span<const double> weights);

}  // namespace hydro::calibrate
