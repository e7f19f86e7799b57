#pragma once

// Spreading a routing plan over the ranks of a parallel run: whole trees of the reading forest
// go to ranks, largest first, each to the rank with the least work so far. A rank's part of
// the plan is a plan of its own (its cells, their reads renumbered, frames of its cells only)
// that the engine runs unchanged; its frame values go back to their places in the whole frame.

#include <cstdint>
#include <span>
#include <vector>

#include "runoff_sim/routing_engine.h"

namespace hydro::runoff {

/// The trees of the reading forest: in the plan's depth-first post-order each tree is a run of
/// cells that ends at its root (a cell nobody reads). Returned as the index one past each
/// tree's last cell, in plan order.
[[nodiscard]] std::vector<std::size_t> treeEnds(const RoutingPlan& plan);

/// The rank of each tree of `sizes` cells: largest first (ties in the given order), each to the
/// rank with the least work so far (ties to the lowest rank).
[[nodiscard]] std::vector<std::int32_t> assignBySize(std::span<const std::size_t> sizes,
                                                     std::int32_t ranks);

/// The rank that runs each plan cell, for `ranks` ranks. Every cell costs the same per hour,
/// so a tree's work is its cell count; trees go largest first (ties in plan order) to the rank
/// with the least work (ties to the lowest rank).
[[nodiscard]] std::vector<std::int32_t> assignTrees(const RoutingPlan& plan, std::int32_t ranks);

/// The cells of one rank and where their values go in the whole frame.
struct RankPart {
    /// The rank's own plan: its cells in the whole plan's order, reads renumbered; its frames
    /// hold exactly its cells' values, in that order.
    RoutingPlan plan;
    /// Per cell of the part, its value index in the whole frame.
    std::vector<std::int64_t> framePositions;
};

/// Cuts rank `rank`'s part out of `plan` (may throw std::bad_alloc).
[[nodiscard]] RankPart rankPart(const RoutingPlan& plan, std::span<const std::int32_t> owner,
                                std::int32_t rank);

/// Puts a part's frame values (in part order) into their places in the whole frame.
void placeValues(std::span<const std::int64_t> framePositions, std::span<const float> values,
                 std::span<float> frame);

/// The largest rank's work against the average, for the assignment `owner` of `ranks` ranks
/// (1 is perfect balance; 0 for an empty plan).
[[nodiscard]] double loadImbalance(std::span<const std::int32_t> owner, std::int32_t ranks);

}  // namespace hydro::runoff
