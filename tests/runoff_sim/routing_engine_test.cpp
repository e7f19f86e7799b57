#include "routing/routing_engine.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "runoff_sim/discharge_output.h"
#include "tests/runoff_sim/engine_case.h"

namespace hydro::runoff {
namespace {

TEST(ProgressPacer, LinesFollowTheWorkDone) {
    std::vector<std::int64_t> printed;
    ProgressPacer pacer(3, 10, [&](std::int64_t line) { printed.push_back(line); });
    pacer.start();
    EXPECT_TRUE(printed.empty());
    pacer.advance(3);
    EXPECT_TRUE(printed.empty());  // line 0 is due at ceil(10 / 3) = 4
    pacer.advance(1);
    EXPECT_EQ(printed, (std::vector<std::int64_t>{0}));
    pacer.advance(6);
    EXPECT_EQ(printed, (std::vector<std::int64_t>{0, 1, 2}));
    pacer.finish();
    EXPECT_EQ(printed.size(), 3U);

    // Without work every line is due at once; with more lines than units they come in bursts.
    std::vector<std::int64_t> idle;
    ProgressPacer none(4, 0, [&](std::int64_t line) { idle.push_back(line); });
    none.start();
    EXPECT_EQ(idle, (std::vector<std::int64_t>{0, 1, 2, 3}));
    std::vector<std::int64_t> dense;
    ProgressPacer many(5, 2, [&](std::int64_t line) { dense.push_back(line); });
    many.start();
    many.advance(1);
    EXPECT_EQ(dense, (std::vector<std::int64_t>{0, 1}));
    many.advance(1);
    EXPECT_EQ(dense.size(), 5U);
}

TEST(RoutingEngine, AChainHoldsOnlyTheStoresInFlight) {
    const auto c = test::planCase(test::chainCase(38));
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->plan.cells.size(), 38U);

    ProgressPacer progress(0, 0, [](std::int64_t) {});
    int hours = 0;
    const FrameSink sink{
        [&](std::int32_t, std::int32_t, std::span<const float>) {
            ++hours;
            return true;
        },
        [](std::int32_t, std::span<const float>, std::span<const float>) { return true; }};
    RoutingStats stats;
    omp_set_num_threads(2);
    ASSERT_EQ(runTimeLoop(c->plan, c->rain, progress, sink, &stats), RunStatus::kComplete);
    EXPECT_EQ(hours, 24);
    // Each cell's hour of outflow is read by the next one right away: two stores serve the
    // whole chain, however long it is.
    EXPECT_LE(stats.peakStores, 2);
    EXPECT_GE(stats.peakStores, 1);

    // A sink that refuses a frame stops the run.
    const FrameSink refusing{
        [](std::int32_t, std::int32_t, std::span<const float>) { return false; }, sink.day};
    EXPECT_EQ(runTimeLoop(c->plan, c->rain, progress, refusing), RunStatus::kSinkRefused);
}

TEST(RoutingEngine, APlanRunsAgainWithTheSameBytes) {
    // Two days, so that the daily frames start afresh as well.
    test::SimCase forest = test::forestCase(6);
    forest.days = 2;
    const auto c = test::planCase(forest);
    ASSERT_NE(c, nullptr);
    const std::vector<double> initial = c->plan.initialNodes;
    ProgressPacer progress(0, 0, [](std::int64_t) {});
    RoutingEngine engine(c->plan, c->rain, progress);

    const test::EventFrames first = test::collectFrames(engine);
    ASSERT_EQ(first.status, RunStatus::kComplete);
    // The run moved the engine's nodes on, and left the plan's alone.
    const std::span<const double> after = engine.nodeStates();
    EXPECT_FALSE(std::equal(after.begin(), after.end(), initial.begin(), initial.end()));
    EXPECT_EQ(c->plan.initialNodes, initial);

    // The same engine again, and a second engine over the same plan.
    EXPECT_EQ(test::collectFrames(engine).bits, first.bits);
    RoutingEngine other(c->plan, c->rain, progress);
    EXPECT_EQ(test::collectFrames(other).bits, first.bits);
}

TEST(DischargeAggregation, SingleSumsInOrderAndTheMaximumFromZero) {
    // 2^24 + 1 + 1 is 2^24 in single precision added in order (each 1 is lost), 2^24 + 2 in
    // any wider or regrouped sum.
    const std::vector<float> subSteps{16777216.0F, 1.0F, 1.0F, 2.0F};
    EXPECT_EQ(hourlyMeanDischarge(subSteps), (16777216.0F + 2.0F) / 4.0F);

    std::array<float, 24> hours{};
    hours.fill(1.0F / 3.0F);
    float total = 0.0F;
    for (float h : hours) {
        total += h;
    }
    EXPECT_EQ(dailyMeanDischarge(hours), total / 24.0F);
    EXPECT_EQ(dailyMaxHourlyDischarge(hours), 1.0F / 3.0F);

    // Nothing below zero and no NaN becomes the maximum; a later equal mean does.
    std::array<float, 24> odd{};
    odd.fill(-1.0F);
    odd[3] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(dailyMaxHourlyDischarge(odd), 0.0F);
    odd[5] = 2.0F;
    odd[9] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(dailyMaxHourlyDischarge(odd), 2.0F);
    EXPECT_TRUE(std::isnan(dailyMeanDischarge(odd)));
}

TEST(DischargeAggregation, NonFiniteValuesAreCountedAndTheFirstNamed) {
    const std::int32_t columns = 4;
    std::vector<float> frame(12, 1.0F);
    NonFiniteTally tally;
    tally.addHour(1, 1, frame);
    EXPECT_EQ(tally.count(), 0);
    EXPECT_TRUE(tally.check(columns, 0.0).ok());

    // Frame value 6 is the third column of the second row from the south.
    frame[6] = std::numeric_limits<float>::infinity();
    frame[11] = std::numeric_limits<float>::quiet_NaN();
    tally.addHour(1, 7, frame);
    frame[0] = -std::numeric_limits<float>::infinity();
    tally.addHour(2, 1, frame);
    EXPECT_EQ(tally.count(), 5);

    const Status explicitScheme = tally.check(columns, 0.0);
    ASSERT_FALSE(explicitScheme.ok());
    EXPECT_EQ(explicitScheme.error().message,
              "5 hourly discharge values are not finite numbers, the first at column 3, row 2 "
              "(counted from 1 from the west and from the south) on day 1, hour 7: the time "
              "step may be too long for the explicit scheme at this weight; try a shorter time "
              "step or a weight of 0.5 or more.");
    const Status implicitScheme = tally.check(columns, 0.6);
    ASSERT_FALSE(implicitScheme.ok());
    EXPECT_NE(implicitScheme.error().message.find("may be too large"), std::string::npos);
}

}  // namespace
}  // namespace hydro::runoff
