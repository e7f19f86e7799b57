#pragma once

// The rain over a river's basin, hour by hour: the area-weighted mean intensity over the cells
// the simulator routes on that river, each cell taking the rain of its nearest rainfall point.

#include <cstdint>
#include <vector>

#include "runoff_sim/grid_cell.h"
#include "runoff_sim/rain_cell.h"

namespace hydro::hydrograph {

struct BasinRainfall {
    /// Mean intensity, mm/h, of hours 1..24*days (day 1 hour 1 first).
    std::vector<double> mmPerHour;
    /// Cells that entered the mean.
    std::int64_t cellCount = 0;
    /// A cell of the river with no rainfall point near it (the mean is then empty).
    runoff::CellIndex unmatchedCell = runoff::kNoCell;
};

/// Σ(area · rain) / Σ(area) over the cells with river number `riverNum`, off the border and
/// with a flow accumulation above 0; a cell's area is 926.6 m times its width. Every hour is 0
/// when the river has no such cell.
[[nodiscard]] BasinRainfall basinRainfall(const runoff::StudyGrid& grid,
                                          const runoff::RainGrid& rain, std::int32_t riverNum);

}  // namespace hydro::hydrograph
