#include "calibrate/objective.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace hydro::calibrate {

namespace {

constexpr std::array<const char*, 4> kNames{"kge", "kge-prime", "nse", "log-nse"};
constexpr std::array<const char*, 4> kLabels{"KGE", "KGE'", "NSE", "log-NSE"};

std::optional<double> scoreOf(Objective objective, const GaugeScore& s) {
    switch (objective) {
        case Objective::kKge:
            return s.skill.kge;
        case Objective::kKgePrime:
            return s.skill.kgePrime;
        case Objective::kNse:
            return s.skill.nse;
        case Objective::kLogNse:
            return s.logNse;
    }
    return std::nullopt;
}

}  // namespace

const char* objectiveName(Objective objective) {
    return kNames[static_cast<std::size_t>(objective)];
}

const char* objectiveLabel(Objective objective) {
    return kLabels[static_cast<std::size_t>(objective)];
}

std::optional<Objective> objectiveNamed(std::string_view name) {
    for (std::size_t k = 0; k < kNames.size(); ++k) {
        if (name == kNames[k]) {
            return static_cast<Objective>(k);
        }
    }
    return std::nullopt;
}

double noSkillScore(Objective objective) {
    return objective == Objective::kKge || objective == Objective::kKgePrime ? 1.0 - std::sqrt(2.0)
                                                                             : 0.0;
}

GaugeScore scoreGauge(std::span<const float> sim, std::span<const std::optional<double>> obs,
                      std::int64_t warmupHours) {
    const auto from = static_cast<std::size_t>(std::max<std::int64_t>(warmupHours, 0));
    std::vector<double> s;
    std::vector<std::optional<double>> o;
    for (std::size_t h = from; h < sim.size() && h < obs.size(); ++h) {
        s.push_back(static_cast<double>(sim[h]));
        o.push_back(obs[h]);
    }
    GaugeScore score;
    for (const float v : sim) {
        if (!std::isfinite(v)) {
            return score;  // a run that went unstable has no score
        }
    }
    score.skill = gauges::computeSkill(s, o);
    double sum = 0.0;
    std::int64_t n = 0;
    for (const auto& v : o) {
        if (v) {
            sum += *v;
            ++n;
        }
    }
    if (n > 0 && sum > 0.0) {
        const double e = sum / static_cast<double>(n) / 100.0;
        std::vector<double> ls(s.size());
        std::vector<std::optional<double>> lo(o.size());
        for (std::size_t k = 0; k < s.size(); ++k) {
            ls[k] = s[k] >= 0.0 ? std::log(s[k] + e) : std::nan("");
            if (o[k]) {
                lo[k] = std::log(*o[k] + e);
            }
        }
        const gauges::Skill logSkill = gauges::computeSkill(ls, lo);
        if (logSkill.nse && std::isfinite(*logSkill.nse)) {
            score.logNse = logSkill.nse;
        }
    }
    return score;
}

std::optional<double> combine(Objective objective, std::span<const GaugeScore> scores,
                              std::span<const double> weights) {
    double sum = 0.0;
    double total = 0.0;
    for (std::size_t g = 0; g < scores.size(); ++g) {
        const double w = g < weights.size() ? weights[g] : 1.0;
        if (w <= 0.0) {
            continue;
        }
        const auto v = scoreOf(objective, scores[g]);
        if (!v || !std::isfinite(*v)) {
            return std::nullopt;
        }
        sum += w * *v;
        total += w;
    }
    if (total <= 0.0) {
        return std::nullopt;
    }
    return sum / total;
}

}  // namespace hydro::calibrate
