#include "runoff_sim/routing_engine.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <sstream>

#include "case/case.h"
#include "runoff_sim/processing_order.h"
#include "runoff_sim/routing_setup.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

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
    // One row of 38 routed cells, each draining east into the next.
    test::SimCase c;
    c.studyRows = 3;
    c.studyCols = 40;
    const auto n = static_cast<std::size_t>(3 * 40);
    c.elevation.assign(n, 100.0F);
    c.flowDir.assign(n, 3);
    c.flowAcc.assign(n, 1);
    c.riverNum.assign(n, 1);
    for (int col = 0; col < 40; ++col) {
        c.elevation[static_cast<std::size_t>(40 + col)] = 100.0F - static_cast<float>(col);
        c.flowAcc[static_cast<std::size_t>(40 + col)] = col;
    }
    test::TempDir dir;
    c.write(dir.path());
    const auto p = readEventParameters(dir / "param-event.dat");
    ASSERT_TRUE(p.ok());
    const auto grid = buildDrainageNetwork(dir / "topoData", *p);
    ASSERT_TRUE(grid.ok());
    const auto rain = readCaseRainfall(dir.path(), *p);
    ASSERT_TRUE(rain.ok());
    const RiverList rivers({1});
    auto plan = buildRoutingPlan(*grid, rivers, orderRoutedCells(*grid, rivers), *rain, *p);
    ASSERT_TRUE(plan.ok());
    ASSERT_EQ(plan->cells.size(), 38U);

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
    ASSERT_TRUE(runTimeLoop(*plan, *rain, progress, sink, &stats));
    EXPECT_EQ(hours, 24);
    // Each cell's hour of outflow is read by the next one right away: two stores serve the
    // whole chain, however long it is.
    EXPECT_LE(stats.peakStores, 2);
    EXPECT_GE(stats.peakStores, 1);

    // A sink that refuses a frame stops the run.
    const FrameSink refusing{
        [](std::int32_t, std::int32_t, std::span<const float>) { return false; }, sink.day};
    EXPECT_FALSE(runTimeLoop(*plan, *rain, progress, refusing));
}

}  // namespace
}  // namespace hydro::runoff
