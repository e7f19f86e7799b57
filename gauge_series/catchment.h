#pragma once

// The rain over parts of the simulated network: each routed cell takes the rain of its
// nearest rainfall point, as the simulator does, weighted by the cell's area.

#include <cstdint>
#include <vector>

#include "case/case.h"
#include "case/grid_cell.h"
#include "case/rain_grid.h"

namespace hydro::gauges {

/// The nearest rainfall point of every cell the simulator routes (on a river, off the border);
/// -1 for the other cells. Fails, naming the cell, when a routed cell has no point near it.
Result<std::vector<std::int32_t>> nearestRainPoints(const StudyGrid& grid, const RainGrid& rain);

/// The routed cells whose water reaches `outlet` along the simulator's links, the outlet
/// first; each cell once.
[[nodiscard]] std::vector<CellIndex> upstreamCells(const StudyGrid& grid, CellIndex outlet);

/// Area-weighted mean rain intensity over `cells`, mm/h, for hours 1..24*days.
[[nodiscard]] std::vector<double> meanRainfall(const StudyGrid& grid, const RainGrid& rain,
                                               const std::vector<std::int32_t>& points,
                                               const std::vector<CellIndex>& cells);

}  // namespace hydro::gauges
