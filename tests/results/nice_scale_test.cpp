// Axis scales: round tops that hold the data without wasting the plot, tick labels that tell
// every tick apart, and hour steps that fit the axis.

#include "results/nice_scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>

namespace hydro::results {

namespace {

/// True when `step` is 1, 2, 2.5 or 5 times a power of ten (up to rounding).
bool isRoundStep(double step) {
    const double power = std::pow(10.0, std::floor(std::log10(step)));
    const double m = step / power;
    for (const double f : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (std::fabs(m - f) < 1e-9) {
            return true;
        }
    }
    return false;
}

TEST(NiceScale, NothingToShowGivesTheUnitAxis) {
    for (const double v : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()}) {
        const NiceScale s = niceScale(v);
        EXPECT_EQ(s.max, 1.0) << v;
        EXPECT_EQ(s.steps, 5) << v;
        EXPECT_DOUBLE_EQ(s.step * s.steps, s.max) << v;
    }
}

TEST(NiceScale, RoundTopThatHoldsTheDataOverManyMagnitudes) {
    std::vector<double> values{1e-12, 1e-9,  1e-6,  1.0,     2.0,     2.5,     5.0, 10.0,
                               12.0,  99.99, 100.0, 193.654, 6472.15, 9999.99, 1e6, 3.4e38};
    for (double v = 1e-5; v < 1e7; v *= 1.37) {
        values.push_back(v);
    }
    for (const double v : values) {
        SCOPED_TRACE(v);
        const NiceScale s = niceScale(v);
        EXPECT_GE(s.max, v);
        EXPECT_GE(s.steps, 1);
        EXPECT_LE(s.steps, 6);
        EXPECT_TRUE(isRoundStep(s.step)) << s.step;
        EXPECT_NEAR(s.step * s.steps, s.max, s.max * 1e-12);
        if (v >= 1e-6) {
            // Never more than two and a half times the data: the curve keeps its height.
            EXPECT_LE(s.max, 2.5 * v);
        }
        // Every tick has a label of its own, and the labels read back as the ticks.
        std::set<std::string> labels;
        for (int k = 0; k <= s.steps; ++k) {
            const std::string label = tickLabel(k * s.step, s);
            labels.insert(label);
            EXPECT_NEAR(std::stod(label), k * s.step, s.step * 0.01) << label;
        }
        EXPECT_EQ(labels.size(), static_cast<std::size_t>(s.steps) + 1);
    }
}

TEST(NiceScale, ExactRoundMaximaAreNotRaised) {
    EXPECT_EQ(niceScale(1.0).max, 1.0);
    EXPECT_EQ(niceScale(5.0).max, 5.0);
    EXPECT_EQ(niceScale(6000.0).max, 6000.0);
    EXPECT_EQ(niceScale(6472.15).max, 8000.0);
}

TEST(NiceScale, TinyMaximumStillHasReadableTicks) {
    const NiceScale s = niceScale(3e-9);
    EXPECT_GE(s.max, 3e-9);
    EXPECT_GT(s.step, 0.0);
    EXPECT_NE(tickLabel(s.step, s), tickLabel(0.0, s));
}

TEST(FixedText, FixedDigitsAndNoNegativeZero) {
    EXPECT_EQ(fixedText(12.345, 2), "12.35");
    EXPECT_EQ(fixedText(880.0, 2), "880.00");
    EXPECT_EQ(fixedText(-0.001, 2), "0.00");
    EXPECT_EQ(fixedText(-1.5, 1), "-1.5");
    EXPECT_EQ(fixedText(7.0, 0), "7");
}

TEST(HourTicks, StepsThatFitAndDivideTheDay) {
    EXPECT_EQ(hourTickStep(24), 2);
    EXPECT_EQ(hourTickStep(48), 6);
    EXPECT_EQ(hourTickStep(72), 6);
    EXPECT_EQ(hourTickStep(96), 12);
    for (std::int64_t h = 1; h <= 24 * 400; h += 7) {
        const std::int64_t s = hourTickStep(h);
        EXPECT_LE(h / s, 12) << h;
        EXPECT_TRUE(24 % s == 0 || s % 24 == 0) << h << " " << s;
    }
}

}  // namespace
}  // namespace hydro::results
