#pragma once

// The rain over a river's basin, hour by hour: the area-weighted mean intensity over the cells
// the simulator routes on that river, each cell taking the rain of its nearest rainfall point.

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "case/grid_cell.h"
#include "case/rain_grid.h"

namespace hydro {

struct BasinRainfall {
    /// Mean intensity, mm/h, of hours 1..24*days (day 1 hour 1 first).
    std::vector<double> mmPerHour;
    /// Cells that entered the mean.
    std::int64_t cellCount = 0;
    /// A cell of the river with no rainfall point near it (the mean is then empty).
    CellIndex unmatchedCell = kNoCell;
};

/// The basin rain of every river that `takes` (by river number), in one pass over the grid.
struct RiversRainfall {
    /// Rivers with at least one cell that entered the mean.
    std::map<std::int32_t, BasinRainfall> byRiver;
    /// A cell of a taken river with no rainfall point near it (the means are then incomplete).
    CellIndex unmatchedCell = kNoCell;
};

/// Σ(area · rain) / Σ(area) per river, over the cells of the rivers `takes`, off the border
/// and with a flow accumulation above 0; a cell's area is 926.6 m times its width.
[[nodiscard]] RiversRainfall basinRainfallByRiver(const StudyGrid& grid, const RainGrid& rain,
                                                  const std::function<bool(std::int32_t)>& takes);

/// Σ(area · rain) / Σ(area) over the cells with river number `riverNum`, off the border and
/// with a flow accumulation above 0; a cell's area is 926.6 m times its width. Every hour is 0
/// when the river has no such cell.
[[nodiscard]] BasinRainfall basinRainfall(const StudyGrid& grid, const RainGrid& rain,
                                          std::int32_t riverNum);

/// Upstream area of every cell, m2: the areas of the cells that drain through it by their
/// flow directions (any cell, on a river or not), itself included. Cells on a loop of flow
/// directions get only what drains into the loop from outside it.
[[nodiscard]] std::vector<double> upstreamAreasM2(const StudyGrid& grid);

}  // namespace hydro
