#pragma once

// Spreading a routing plan over the ranks of a parallel run. The unit is the tree of the
// reading forest; a tree too large for the balance is cut at confluences into pieces. Pieces
// go to ranks, largest first, each to the rank with the least work so far. A cut hands the
// sub-step outflow series of the upstream piece's root, hour by hour, to the piece that reads
// it. A piece's level is the longest chain of cuts above it: level 0 reads no other piece,
// level k only pieces of lower levels. A rank's cells of one level form a plan of their own
// (reads renumbered, cut series as imports and exports, frames of its cells only) that the
// engine runs unchanged; its frame values go back to their places in the whole frame.

#include <cstdint>
#include <span>
#include <vector>

#include "runoff_sim/routing_engine.h"

namespace hydro::runoff {

/// The rank of each piece of `cells` cells at `level`: the pieces in order of level (largest
/// first within a level) are cut into `ranks` runs of about equal cells, a piece going to the
/// run that holds its middle. A piece's rank is never below the rank of a piece that feeds it,
/// so series only flow from lower ranks to higher ones: a rank never waits for a rank below
/// it, and every rank may run ahead of the ranks it feeds.
[[nodiscard]] std::vector<std::int32_t> assignDownstream(std::span<const std::int64_t> cells,
                                                         std::span<const std::int32_t> level,
                                                         std::int32_t ranks);

/// A plan cut into pieces and spread over ranks.
struct Decomposition {
    std::int32_t ranks = 1;
    std::int32_t levels = 1;            ///< one more than the highest piece level
    std::vector<std::int32_t> pieceOf;  ///< per plan cell, its piece (pieces in root order)
    std::vector<std::int32_t> pieceRank;
    std::vector<std::int32_t> pieceLevel;
    std::vector<std::int64_t> pieceCells;
    /// The roots of the pieces that another piece reads (the cuts), in plan order.
    std::vector<std::int32_t> cuts;
    /// Per cut, the piece that reads it.
    std::vector<std::int32_t> cutInto;
};

/// The reader of every plan cell (-1 for a root), the input of the decomposition.
[[nodiscard]] std::vector<std::int32_t> readersOf(const RoutingPlan& plan);

/// Cuts the forest `reader` (each cell after the cells it reads, as in a plan) into pieces of
/// at most `target` cells where confluences allow. Working upstream to downstream, at a
/// confluence with more than `target` cells above it the main stem (the branch with most
/// cells above it) goes on in the same piece; every tributary with more than
/// target / kSmallTributary cells above it is cut off, and smaller ones too, largest first,
/// while the piece would exceed the target; when it still would, the stem is cut as well. So
/// the stem of a large river is cut about once every `target` cells of its length, and a chain
/// of cuts never grows much longer than the river is long (counted in targets) plus the times
/// a path joins a larger river. A chain without confluences stays whole. Returns, per cell,
/// whether it is the root of a piece.
[[nodiscard]] std::vector<bool> cutAtConfluences(std::span<const std::int32_t> reader,
                                                 std::int64_t target);

/// Pieces of `ranks` ranks: trees larger than the cells of `ranks` * kPiecesPerRank equal
/// pieces are cut, then pieces are spread largest first. With one rank nothing is cut.
[[nodiscard]] Decomposition decompose(std::span<const std::int32_t> reader, std::int32_t ranks);

/// Pieces per rank the cut aims at: the largest piece is then an eighth of a rank's work.
inline constexpr std::int64_t kPiecesPerRank = 8;
/// Tributaries of at most target / kSmallTributary cells stay with the stem while it has room.
inline constexpr std::int64_t kSmallTributary = 16;

/// Where a cut's series go: from the rank (and level) of the piece it ends to the rank of the
/// piece that reads it.
struct CutRoute {
    std::int32_t fromRank = 0;
    std::int32_t toRank = 0;
    std::int32_t fromLevel = 0;
};

/// The route of every cut of `d`, in cut order.
[[nodiscard]] std::vector<CutRoute> cutRoutes(const Decomposition& d);

/// A rank's cells, level by level.
struct RankWork {
    /// Per level, the plan of this rank's cells of that level (empty when it has none).
    std::vector<RoutingPlan> plans;
    /// Per level, per import slot, the cut it reads; per export slot, the cut it hands out.
    std::vector<std::vector<std::int32_t>> importCut;
    std::vector<std::vector<std::int32_t>> exportCut;
    /// Per cell of the rank, level after level, its value index in the whole frame.
    std::vector<std::int64_t> framePositions;
};

/// Cuts rank `rank`'s work out of `plan` (may throw std::bad_alloc).
[[nodiscard]] RankWork rankWork(const RoutingPlan& plan, const Decomposition& d, std::int32_t rank);

/// The frame positions of every rank's cells, rank after rank, each rank's in the order of
/// its RankWork::framePositions; `counts` receives the cells of each rank.
[[nodiscard]] std::vector<std::int64_t> framePositionsByRank(const RoutingPlan& plan,
                                                             const Decomposition& d,
                                                             std::vector<std::int32_t>& counts);

/// The largest rank's cells against the average (1 is perfect balance; 0 for no cells).
[[nodiscard]] double loadImbalance(const Decomposition& d);

/// Puts a part's frame values (in part order) into their places in the whole frame.
void placeValues(std::span<const std::int64_t> framePositions, std::span<const float> values,
                 std::span<float> frame);

}  // namespace hydro::runoff
