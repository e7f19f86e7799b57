#include "runoff_sim/rank_split.h"

#include <gtest/gtest.h>

#include <bit>
#include <numeric>

#include "tests/runoff_sim/engine_case.h"

namespace hydro::runoff {
namespace {

/// The frames of a run spread over `ranks` parts, each part run by an engine of its own and
/// its values put back into whole frames, as the parallel run assembles them.
test::EventFrames runInParts(const test::PlannedCase& c, std::int32_t ranks) {
    const std::vector<std::int32_t> owner = assignTrees(c.plan, ranks);
    std::vector<RankPart> parts;
    std::vector<std::vector<std::uint32_t>> partBits;
    for (std::int32_t r = 0; r < ranks; ++r) {
        parts.push_back(rankPart(c.plan, owner, r));
        ProgressPacer progress(0, 0, [](std::int64_t) {});
        RoutingEngine engine(parts.back().plan, c.rain, progress);
        const test::EventFrames frames = test::collectFrames(engine);
        EXPECT_EQ(frames.status, RunStatus::kComplete);
        partBits.push_back(frames.bits);
    }
    // Frame k of the whole run is frame k of every part, each value in its place.
    test::EventFrames whole;
    const std::size_t frameCount = static_cast<std::size_t>(c.plan.days) * 26U;
    for (std::size_t k = 0; k < frameCount; ++k) {
        std::vector<float> frame = c.plan.frameTemplate;
        for (std::size_t r = 0; r < parts.size(); ++r) {
            const std::size_t n = parts[r].framePositions.size();
            std::vector<float> values(n);
            for (std::size_t i = 0; i < n; ++i) {
                values[i] = std::bit_cast<float>(partBits[r][k * n + i]);
            }
            placeValues(parts[r].framePositions, values, frame);
        }
        for (const float v : frame) {
            whole.bits.push_back(std::bit_cast<std::uint32_t>(v));
        }
    }
    return whole;
}

TEST(RankSplit, TreesStayWholeAndGoLargestFirstToTheLeastLoaded) {
    const auto c = test::planCase(test::forestCase(7));
    ASSERT_NE(c, nullptr);
    const std::vector<std::size_t> ends = treeEnds(c->plan);
    ASSERT_EQ(ends.size(), 7U * 3U);  // three roots a tree: the middle outlet and two chains
    for (const std::int32_t ranks : {1, 2, 3, 5}) {
        const std::vector<std::int32_t> owner = assignTrees(c->plan, ranks);
        std::size_t first = 0;
        for (const std::size_t end : ends) {
            for (std::size_t i = first; i < end; ++i) {
                EXPECT_EQ(owner[i], owner[first]) << "a tree split at cell " << i;
            }
            first = end;
        }
        // Every rank gets work, and no rank more than the average plus the largest tree.
        std::vector<std::size_t> load(static_cast<std::size_t>(ranks), 0);
        for (const std::int32_t r : owner) {
            ++load[static_cast<std::size_t>(r)];
        }
        for (const std::size_t l : load) {
            EXPECT_GT(l, 0U);
        }
        EXPECT_LE(loadImbalance(owner, ranks), 1.0 + 8.0 * ranks / 70.0);
    }
    EXPECT_DOUBLE_EQ(loadImbalance(assignTrees(c->plan, 1), 1), 1.0);
}

TEST(RankSplit, LargestTreeFirstToTheLeastLoadedRank) {
    // 5 and 4 open the two ranks; each 3 then goes to whichever has less, ties to rank 0.
    const std::vector<std::size_t> sizes{3, 5, 3, 4, 3};
    EXPECT_EQ(assignBySize(sizes, 2), (std::vector<std::int32_t>{1, 0, 0, 1, 1}));
    // More ranks than trees leaves ranks idle; no trees, nothing to assign.
    EXPECT_EQ(assignBySize(sizes, 8), (std::vector<std::int32_t>{2, 0, 3, 1, 4}));
    EXPECT_TRUE(assignBySize({}, 3).empty());
}

TEST(RankSplit, PartsGiveTheBytesOfTheWholeRun) {
    for (const auto& made : {test::forestCase(5), test::chainCase(6)}) {
        const auto c = test::planCase(made);
        ASSERT_NE(c, nullptr);
        ProgressPacer progress(0, 0, [](std::int64_t) {});
        RoutingEngine engine(c->plan, c->rain, progress);
        const test::EventFrames whole = test::collectFrames(engine);
        for (const std::int32_t ranks : {1, 2, 3, 4}) {
            EXPECT_EQ(runInParts(*c, ranks).bits, whole.bits) << ranks << " ranks";
        }
    }
}

TEST(RankSplit, APartReadsOnlyItsOwnCells) {
    const auto c = test::planCase(test::forestCase(4));
    ASSERT_NE(c, nullptr);
    const std::vector<std::int32_t> owner = assignTrees(c->plan, 3);
    std::size_t total = 0;
    for (std::int32_t r = 0; r < 3; ++r) {
        const RankPart part = rankPart(c->plan, owner, r);
        const auto n = static_cast<std::int32_t>(part.plan.cells.size());
        total += part.plan.cells.size();
        EXPECT_EQ(part.plan.frameTemplate.size(), part.plan.cells.size());
        for (const RoutedCell& rc : part.plan.cells) {
            EXPECT_LT(rc.reader, n);
            for (std::int32_t s = 0; s < rc.sourceCount; ++s) {
                EXPECT_LT(part.plan.sourceOf(rc, s), n);
            }
        }
    }
    EXPECT_EQ(total, c->plan.cells.size());
}

}  // namespace
}  // namespace hydro::runoff
