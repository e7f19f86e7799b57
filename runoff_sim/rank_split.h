#pragma once

// Spreading a routing plan over the ranks of a parallel run: the reading forest cut into
// pieces, each piece given a level and a rank, and each rank's cells turned into plans of their
// own that the engine runs unchanged. docs/parallel.md describes the design.

#include <cstdint>
#include <span>
#include <vector>

#include "routing/routing_engine.h"

namespace hydro::runoff {

/// The rank (0 to `ranks` - 1) of each piece of `cells` cells at `level`: the pieces in order
/// of level (largest first within a level) are cut into `ranks` runs of about equal cells, a
/// piece going to the run that holds its middle. A piece's rank is never below the rank of a
/// piece of a lower level, so series only flow from lower ranks to higher ones or within a
/// rank.
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
/// at most `target` cells where confluences allow: only at a confluence with more than
/// `target` cells above it is any branch cut off, the main stem (the branch with most cells
/// above it) last, so a chain without confluences stays whole. Returns, per cell, whether it
/// is the root of a piece (every root of the forest is).
[[nodiscard]] std::vector<bool> cutAtConfluences(std::span<const std::int32_t> reader,
                                                 std::int64_t target);

/// Pieces of `ranks` ranks: the forest cut at confluences (cutAtConfluences) into pieces of
/// about a `ranks` * kPiecesPerRank-th of its cells, levelled, and assigned by
/// assignDownstream. With one rank nothing is cut.
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
