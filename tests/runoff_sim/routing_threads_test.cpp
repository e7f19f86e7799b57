// The engine on several threads against one thread, over the two shapes that stress the
// scheduler in opposite ways: many small trees (many leaves, stores handed between threads)
// and one long chain (one cell ready at a time, each reader taken by the thread that
// completes its input), with either scheme. Built under ThreadSanitizer as well (label tsan).

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "tests/runoff_sim/engine_case.h"

namespace hydro::test {
namespace {

void expectSameBytesOnEveryThreadCount(const PlannedCase& c) {
    const EventFrames single = runWithThreads(c, 1);
    ASSERT_EQ(single.status, runoff::RunStatus::kComplete);
    // The case must carry water, or equal bytes would prove nothing.
    const auto zeroBits = std::uint32_t{0};
    std::size_t wet = 0;
    for (std::uint32_t b : single.bits) {
        wet += b != zeroBits && b != std::bit_cast<std::uint32_t>(-9999.0F) ? 1U : 0U;
    }
    EXPECT_GT(wet, single.bits.size() / 4);
    for (int threads : {2, 3, 4}) {
        SCOPED_TRACE(threads);
        const EventFrames many = runWithThreads(c, threads);
        EXPECT_EQ(many.status, runoff::RunStatus::kComplete);
        EXPECT_TRUE(many.bits == single.bits);
    }
}

TEST(RoutingThreads, ManySmallTreesGiveTheSingleThreadBytes) {
    SimCase forest = forestCase(60);
    forest.timeStep = 60;
    for (const runoff::Scheme scheme : {runoff::Scheme::kLinear, runoff::Scheme::kConservative}) {
        SCOPED_TRACE(runoff::schemeName(scheme));
        // The box scheme's solves cost more: one day of it keeps the test short.
        forest.days = scheme == runoff::Scheme::kLinear ? 2 : 1;
        const auto c = planCase(forest, scheme);
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->plan.cells.size(), 60U * 12U);
        expectSameBytesOnEveryThreadCount(*c);
    }
}

TEST(RoutingThreads, OneLongChainGivesTheSingleThreadBytes) {
    for (const runoff::Scheme scheme : {runoff::Scheme::kLinear, runoff::Scheme::kConservative}) {
        SCOPED_TRACE(runoff::schemeName(scheme));
        const auto c = planCase(chainCase(300), scheme);
        ASSERT_NE(c, nullptr);
        expectSameBytesOnEveryThreadCount(*c);
    }
}

}  // namespace
}  // namespace hydro::test
