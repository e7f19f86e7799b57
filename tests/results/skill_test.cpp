// Skill scores worked out by hand on short series: a shifted copy, an anti-correlated series,
// missing observations, and the series for which a score is not defined.

#include "results/skill.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

namespace hydro::gauges {
namespace {

using Obs = std::vector<std::optional<double>>;

TEST(Skill, ShiftedCopyByHand) {
    // s = o + 1: both means differ by 1 (5 and 4), both population sd are sqrt(5), r = 1.
    const std::vector<double> sim{2, 4, 6, 8};
    const Obs obs{1, 3, 5, 7};
    const Skill k = computeSkill(sim, obs);
    EXPECT_EQ(k.n, 4);
    EXPECT_DOUBLE_EQ(*k.nse, 1.0 - 4.0 / 20.0);                               // 0.8
    EXPECT_DOUBLE_EQ(*k.kge, 0.75);                                           // beta 1.25
    EXPECT_DOUBLE_EQ(*k.kgePrime, 1.0 - std::sqrt(0.2 * 0.2 + 0.25 * 0.25));  // gamma 0.8
    EXPECT_DOUBLE_EQ(*k.pbiasPct, 25.0);
    EXPECT_EQ(*k.peakSim, 8.0);
    EXPECT_EQ(*k.peakObs, 7.0);
    EXPECT_DOUBLE_EQ(*k.peakErrorPct, 100.0 / 7.0);
    EXPECT_EQ(*k.peakTimingH, 0);
}

TEST(Skill, AntiCorrelatedSeriesByHand) {
    // Equal means and sd; covariance -1 over variances 2: r = -0.5.
    const std::vector<double> sim{3, 1, 2};
    const Obs obs{1, 2, 3};
    const Skill k = computeSkill(sim, obs);
    EXPECT_DOUBLE_EQ(*k.nse, 1.0 - 6.0 / 2.0);
    EXPECT_DOUBLE_EQ(*k.kge, -0.5);
    EXPECT_DOUBLE_EQ(*k.kgePrime, -0.5);
    EXPECT_DOUBLE_EQ(*k.pbiasPct, 0.0);
    EXPECT_DOUBLE_EQ(*k.peakErrorPct, 0.0);
    EXPECT_EQ(*k.peakTimingH, -2);  // simulated peak in hour 1, observed in hour 3
}

TEST(Skill, MissingObservationsLeaveTheirHoursOut) {
    // The shifted copy again, with a simulated 100 in hour 2 where nothing was observed and a
    // peak in hour 5 on both sides.
    const std::vector<double> sim{2, 100, 4, 6, 8};
    const Obs obs{1, std::nullopt, 3, 5, 7};
    const Skill k = computeSkill(sim, obs);
    EXPECT_EQ(k.n, 4);
    EXPECT_DOUBLE_EQ(*k.nse, 0.8);
    EXPECT_DOUBLE_EQ(*k.kge, 0.75);
    EXPECT_EQ(*k.peakSim, 8.0);
    EXPECT_EQ(*k.peakTimingH, 0);
}

TEST(Skill, UndefinedScoresStayEmpty) {
    {
        SCOPED_TRACE("constant observations");
        const Skill k = computeSkill(std::vector<double>{1, 2, 3}, Obs{3, 3, 3});
        EXPECT_EQ(k.n, 3);
        EXPECT_FALSE(k.nse);
        EXPECT_FALSE(k.kge);
        EXPECT_FALSE(k.kgePrime);
        EXPECT_DOUBLE_EQ(*k.pbiasPct, 100.0 * (6.0 - 9.0) / 9.0);
        EXPECT_DOUBLE_EQ(*k.peakErrorPct, 0.0);
    }
    {
        SCOPED_TRACE("constant simulation");
        const Skill k = computeSkill(std::vector<double>{2, 2, 2}, Obs{1, 2, 3});
        EXPECT_DOUBLE_EQ(*k.nse, 0.0);
        EXPECT_FALSE(k.kge);
        EXPECT_FALSE(k.kgePrime);
        EXPECT_DOUBLE_EQ(*k.pbiasPct, 0.0);
    }
    {
        SCOPED_TRACE("observations all zero");
        const Skill k = computeSkill(std::vector<double>{1, 2, 3}, Obs{0, 0, 0});
        EXPECT_FALSE(k.nse);
        EXPECT_FALSE(k.kge);
        EXPECT_FALSE(k.pbiasPct);
        EXPECT_FALSE(k.peakErrorPct);
        EXPECT_EQ(*k.peakObs, 0.0);
    }
    {
        SCOPED_TRACE("simulation all zero");
        const Skill k = computeSkill(std::vector<double>{0, 0, 0}, Obs{1, 2, 3});
        EXPECT_FALSE(k.kgePrime);
        EXPECT_DOUBLE_EQ(*k.pbiasPct, -100.0);
    }
    {
        SCOPED_TRACE("no hour with both values");
        const Skill k = computeSkill(std::vector<double>{1, 2}, Obs{std::nullopt, std::nullopt});
        EXPECT_EQ(k.n, 0);
        EXPECT_FALSE(k.nse);
        EXPECT_FALSE(k.pbiasPct);
        EXPECT_FALSE(k.peakSim);
        EXPECT_FALSE(k.peakTimingH);
    }
}

}  // namespace
}  // namespace hydro::gauges
