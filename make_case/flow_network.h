#pragma once

// Depression filling, D8 flow directions, the processing order and the flow accumulation of a
// terrain on the simulator's grid.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "make_case/stage_clock.h"
#include "make_case/terrain_grid.h"

namespace hydro::make_case {

/// Flow directions and what follows from them. Cells outside have code 0 and accumulation 0.
struct FlowNetwork {
    std::vector<std::int8_t> flowDir;  ///< D8 code, 0 to 8
    /// Every inside cell once, each after the cell it drains into (downstream first).
    std::vector<std::int32_t> order;
    std::vector<std::int32_t> receiver;  ///< the cell each cell drains into, -1 for none
    std::vector<std::int32_t> flowAcc;   ///< cells draining through the cell, itself included
    std::int64_t raisedCells = 0;        ///< cells the filling raised
    float largestRaise = 0.0F;           ///< m
};

/// The cell `cell` drains into, or -1 when its water leaves the grid (code 0, a step off the
/// grid or into an outside cell).
[[nodiscard]] std::int32_t receiverOf(const GridSpec& gridSpec,
                                      std::span<const std::uint8_t> outside,
                                      std::span<const std::int8_t> flowDir, std::int32_t cell);

/// Conditions `terrain` in place and returns its flow directions and processing order.
///
/// Priority-Flood from the border and from every inside cell next to an outside cell: each
/// depression is raised to its spill level. A cell steps to the neighbour of steepest drop per
/// flow length, lengths as the simulator measures them (`swLatF` is the corner latitude it
/// reads); a cell with no lower neighbour steps towards the cell that flooded it, so a flat
/// drains along the shortest path to its spill point; a border or coast cell with no lower
/// neighbour steps off the grid or into the outside cell. Outside cells get the elevation of
/// their lowest inside neighbour.
/// @pre terrain.outside marks every non-finite elevation.
/// Each step is timed on `clock` when one is given.
/// @post no cell lies below its DEM value, no flow path rises and every path leaves the grid.
[[nodiscard]] FlowNetwork conditionTerrain(Terrain& terrain, float swLatF,
                                           StageClock* clock = nullptr);

/// Gives every outside cell the elevation of its lowest inside neighbour (the lowest inside
/// elevation when it has none, 0 on a grid without inside cells).
void fillOutsideElevation(Terrain& terrain);

/// `receiverOf` for every cell (outside cells get -1).
[[nodiscard]] std::vector<std::int32_t> receivers(const GridSpec& gridSpec,
                                                  std::span<const std::uint8_t> outside,
                                                  std::span<const std::int8_t> flowDir);

/// A processing order for given flow directions, or the first cell found on a flow loop.
struct OrderResult {
    std::vector<std::int32_t> order;
    std::int32_t loopCell = -1;
};
[[nodiscard]] OrderResult orderFromDirections(std::span<const std::uint8_t> outside,
                                              std::span<const std::int32_t> receiver);

/// Counts the cells draining through each cell, itself included, walking `order` upstream
/// first.
[[nodiscard]] std::vector<std::int32_t> accumulateFlow(std::span<const std::int32_t> receiver,
                                                       std::span<const std::int32_t> order);

/// Upstream area of each cell, km²: the sum of 926.6 m × the simulator's cell width over the
/// cells draining through it, itself included.
[[nodiscard]] std::vector<double> accumulateArea(const GridSpec& gridSpec, float swLatF,
                                                 std::span<const std::int32_t> receiver,
                                                 std::span<const std::int32_t> order);

/// River numbers: each outlet cell carries its number, every other cell the number of the first
/// outlet its flow path meets, -1 when it meets none. An outlet upstream of another therefore
/// cuts its basin out of the downstream river.
/// @param outlets pairs of (cell, river number ≥ 0)
[[nodiscard]] std::vector<std::int32_t> labelRivers(
    std::span<const std::int32_t> receiver, std::span<const std::int32_t> order,
    std::span<const std::pair<std::int32_t, std::int32_t>> outlets);

/// The cells whose water leaves the grid and whose basin holds at least `minCells` cells,
/// largest first (equal ones north to south, then west to east).
[[nodiscard]] std::vector<std::int32_t> terminalOutlets(std::span<const std::uint8_t> outside,
                                                        std::span<const std::int32_t> receiver,
                                                        std::span<const std::int32_t> flowAcc,
                                                        std::int32_t minCells);

}  // namespace hydro::make_case
