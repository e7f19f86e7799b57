#pragma once

// Small basins planned and routed by the engine directly, without the output files: a long
// chain, and a forest of many small trees, and the frames a run hands out.

#include <cstdint>
#include <memory>
#include <vector>

#include "case/event_parameters.h"
#include "routing/rain_cell.h"
#include "routing/routing_engine.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::test {

/// One row of `length` routed cells between two border rows, each draining east into the
/// next, with rain that changes from hour to hour.
[[nodiscard]] SimCase chainCase(std::int32_t length);

/// `trees` small trees side by side, three columns each: two outer branches of two cells join
/// a middle one of four cells, all flowing south, and below the junction the outer columns go
/// on as short chains of their own. Five leaves a tree, so that the runs of leaves the threads
/// take split trees between threads.
[[nodiscard]] SimCase forestCase(std::int32_t trees);

/// A branching basin of `rows` (odd) by `cols` cells: a main stem along the middle row flowing
/// east, fed from the north and the south by tributaries that collect side branches of their
/// own, with the flow accumulation counted from the flow. Two days, a 10-minute step.
[[nodiscard]] SimCase branchingCase(std::int32_t rows, std::int32_t cols);

/// The branching case of 11 by 24 cells with accumulation that disagrees with the flow along
/// the stem: the sequential order runs some stem cells before cells that drain into them and
/// reads those as zeros.
[[nodiscard]] SimCase inconsistentBranchingCase();

/// Sets every routed cell's flow accumulation to the number of routed cells that drain
/// through it, itself included (border cells keep theirs).
void countAccumulation(SimCase& c);

/// A case written to a scratch folder, read back and planned.
struct PlannedCase {
    TempDir dir;
    EventParameters params;
    RainGrid rain;
    runoff::RoutingPlan plan;
};

/// Writes, reads and plans `c` with river 1 listed, to be stepped with `scheme`; fails the test
/// (and returns null) when a stage refuses it.
[[nodiscard]] std::unique_ptr<PlannedCase> planCase(
    const SimCase& c, runoff::Scheme scheme = runoff::Scheme::kLinear);

/// Every frame of a run in the order the sink receives them (each day's 24 hourly frames, then
/// its daily mean and daily maximum frames), as bit patterns.
struct EventFrames {
    runoff::RunStatus status = runoff::RunStatus::kComplete;
    std::vector<std::uint32_t> bits;
};

/// Runs `engine` once on the current OpenMP thread count.
[[nodiscard]] EventFrames collectFrames(runoff::RoutingEngine& engine);
/// Runs `planned` on `threads` threads with an engine of its own.
[[nodiscard]] EventFrames runWithThreads(const PlannedCase& planned, int threads);

/// A random D8 forest on a rows x cols grid (border ring included): a few outlets on the
/// border, every interior cell attached to a random neighbour already attached, elevations
/// rising upstream by random drops (some of them none, at the slope floor), a river number a
/// tree and a one-cell river inside the first tree, random rain on every cell.
[[nodiscard]] SimCase randomBasin(unsigned seed, std::int32_t rows, std::int32_t cols);

}  // namespace hydro::test
