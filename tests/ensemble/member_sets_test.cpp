// The parameter table, members crossed with rain files, and the quantile estimator on
// hand-made numbers.

#include "ensemble/member_sets.h"

#include <gtest/gtest.h>

#include <vector>

#include "ensemble/quantiles.h"

namespace hydro::ensemble {
namespace {

const members::MemberValues kCase{0.6, 0.03, 0.1, 1.0};

TEST(MemberSets, ColumnsNotNamedOrEmptyKeepTheCaseValues) {
    const auto sets =
        parseParameterSets("rain-factor, manning-channel\r\n2,0.05\n\n,0.04\n", "sets.csv", kCase);
    ASSERT_TRUE(static_cast<bool>(sets)) << sets.error().message;
    ASSERT_EQ(sets->size(), 2U);
    EXPECT_EQ((*sets)[0].name, "set1");
    EXPECT_EQ((*sets)[0].values.rainFactor, 2.0);
    EXPECT_EQ((*sets)[0].values.manningChannel, 0.05);
    EXPECT_EQ((*sets)[0].values.manningSlope, 0.6);
    EXPECT_EQ((*sets)[1].name, "set2");
    EXPECT_EQ((*sets)[1].values.rainFactor, 1.0);
    EXPECT_EQ((*sets)[1].values.initialRunoff, 0.1);
}

TEST(MemberSets, BadTablesNameFileLineAndColumn) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"", "sets.csv is empty"},
        {"member\na\n", "names no parameter"},
        {"rain-factor,member\n1,a\n", "unknown column \"member\""},
        {"rain-factor,rain-factor\n1,1\n", "given twice"},
        {"manning-slope\n0.4,1\n", "sets.csv line 2 has 2 cells, but the header 1."},
        {"member,manning-slope\n.a,0.4\n", "column member"},
        {"manning-slope\nnan\n", "line 2, column manning-slope: \"nan\" is not a number"},
        {"manning-slope\n1e999\n", "is not a number"},
    };
    for (const auto& [text, expected] : cases) {
        const auto sets = parseParameterSets(text, "sets.csv", kCase);
        ASSERT_FALSE(static_cast<bool>(sets)) << text;
        EXPECT_NE(sets.error().message.find(expected), std::string::npos) << sets.error().message;
    }
}

TEST(MemberSets, EverySetWithEveryRainFileSetsOutermost) {
    std::vector<ParameterSet> sets(2);
    sets[0].name = "a";
    sets[1].name = "b";
    const auto both = crossMembers(sets, {"r1", "r2"}, kCase);
    ASSERT_EQ(both.size(), 4U);
    EXPECT_EQ(both[1].name, "a_r2");
    EXPECT_EQ(both[1].rain, 1U);
    EXPECT_EQ(both[2].name, "b_r1");
    const auto setsOnly = crossMembers(sets, {}, kCase);
    ASSERT_EQ(setsOnly.size(), 2U);
    EXPECT_EQ(setsOnly[0].rain, kCaseRain);
    const auto rainOnly = crossMembers({}, {"r1"}, kCase);
    ASSERT_EQ(rainOnly.size(), 1U);
    EXPECT_EQ(rainOnly[0].name, "r1");
    EXPECT_EQ(rainOnly[0].values.manningSlope, 0.6);
}

TEST(Quantiles, LinearInterpolationBetweenOrderStatistics) {
    const std::vector<double> sorted{1.0, 2.0, 4.0, 8.0, 16.0};
    EXPECT_EQ(quantileOfSorted(sorted, 0.0), 1.0);
    EXPECT_EQ(quantileOfSorted(sorted, 0.5), 4.0);
    EXPECT_EQ(quantileOfSorted(sorted, 1.0), 16.0);
    // h = 4 * 0.25 = 1: exactly the second value; h = 4 * 0.95 = 3.8: 8 + 0.8 * 8.
    EXPECT_EQ(quantileOfSorted(sorted, 0.25), 2.0);
    EXPECT_DOUBLE_EQ(quantileOfSorted(sorted, 0.95), 14.4);
    EXPECT_EQ(quantileOfSorted(std::vector<double>{3.0}, 0.05), 3.0);

    // Members given unsorted, hour by hour.
    const std::vector<float> a{3.0F, 0.0F};
    const std::vector<float> b{1.0F, 5.0F};
    const std::vector<float> c{2.0F, 5.0F};
    const auto q = hourlyQuantiles({&a, &b, &c});
    ASSERT_EQ(q.size(), 2U);
    EXPECT_EQ(q[0][2], 2.0);
    EXPECT_DOUBLE_EQ(q[0][0], 1.1);
    EXPECT_EQ(q[1][4], 5.0);
    EXPECT_EQ(hourlyExceedance({&a, &b, &c}, 2.0), (std::vector<double>{1.0 / 3.0, 2.0 / 3.0}));
}

}  // namespace
}  // namespace hydro::ensemble
