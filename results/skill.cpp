#include "results/skill.h"

#include <cmath>
#include <vector>

namespace hydro::gauges {

namespace {

std::optional<double> finite(double v) {
    return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

}  // namespace

Skill computeSkill(std::span<const double> sim, std::span<const std::optional<double>> obs) {
    Skill k;
    std::vector<double> s;
    std::vector<double> o;
    std::vector<std::int64_t> hour;
    for (std::size_t i = 0; i < sim.size() && i < obs.size(); ++i) {
        if (obs[i] && std::isfinite(sim[i])) {
            s.push_back(sim[i]);
            o.push_back(*obs[i]);
            hour.push_back(static_cast<std::int64_t>(i) + 1);
        }
    }
    k.n = static_cast<std::int64_t>(s.size());
    if (s.empty()) {
        return k;
    }
    const auto count = static_cast<double>(s.size());
    double sumS = 0.0;
    double sumO = 0.0;
    double sumDiff = 0.0;
    std::size_t peakS = 0;
    std::size_t peakO = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        sumS += s[i];
        sumO += o[i];
        sumDiff += s[i] - o[i];
        peakS = s[i] > s[peakS] ? i : peakS;
        peakO = o[i] > o[peakO] ? i : peakO;
    }
    const double meanS = sumS / count;
    const double meanO = sumO / count;
    double varS = 0.0;
    double varO = 0.0;
    double cov = 0.0;
    double sse = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double ds = s[i] - meanS;
        const double dobs = o[i] - meanO;
        varS += ds * ds;
        varO += dobs * dobs;
        cov += ds * dobs;
        const double e = s[i] - o[i];
        sse += e * e;
    }
    // Population standard deviations (divided by n).
    const double sdS = std::sqrt(varS / count);
    const double sdO = std::sqrt(varO / count);

    if (varO > 0.0) {
        k.nse = finite(1.0 - sse / varO);
    }
    if (varO > 0.0 && varS > 0.0 && meanO != 0.0) {
        const double r = cov / std::sqrt(varS * varO);
        const double alpha = sdS / sdO;
        const double beta = meanS / meanO;
        k.kge = finite(1.0
                       - std::sqrt((r - 1.0) * (r - 1.0) + (alpha - 1.0) * (alpha - 1.0)
                                   + (beta - 1.0) * (beta - 1.0)));
        if (meanS != 0.0) {
            const double gamma = (sdS / meanS) / (sdO / meanO);
            k.kgePrime = finite(1.0
                                - std::sqrt((r - 1.0) * (r - 1.0) + (gamma - 1.0) * (gamma - 1.0)
                                            + (beta - 1.0) * (beta - 1.0)));
        }
    }
    if (sumO != 0.0) {
        k.pbiasPct = finite(100.0 * sumDiff / sumO);
    }
    k.peakSim = s[peakS];
    k.peakObs = o[peakO];
    if (o[peakO] != 0.0) {
        k.peakErrorPct = finite(100.0 * (s[peakS] - o[peakO]) / o[peakO]);
    }
    k.peakTimingH = hour[peakS] - hour[peakO];
    return k;
}

}  // namespace hydro::gauges
