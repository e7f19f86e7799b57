#pragma once

// What the page shows, worked out from the case: which cells carry discharge, the colour
// scales of the event, the hillshade under the map and the rain over each river's basin.

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "case/grid_cell.h"
#include "case/rain_grid.h"
#include "case/river_list.h"

namespace hydro::results_page {

/// The cells that carry discharge in the simulator's output (on a listed river, off the
/// border), in memory order: rows north to south, each row west to east.
[[nodiscard]] std::vector<CellIndex> simulatedCells(const StudyGrid& grid, const RiverList& rivers);

/// Range of the discharges of an event, m3/s.
struct DischargeRange {
    float smallest = 0.0F;          ///< smallest value (0 or more)
    float smallestPositive = 0.0F;  ///< smallest value above 0; 0 when there is none
    float largest = 0.0F;

    /// Takes one discharge into the range; the first call sets every bound.
    void add(float v);
    [[nodiscard]] bool empty() const { return count == 0; }
    std::int64_t count = 0;
};

/// Colour index 0..255 of `v` on a logarithmic scale from `lower` (index 0) to `upper` (255):
/// 255 * (ln v - ln lower) / (ln upper - ln lower), truncated toward zero. Values at or below
/// `lower`, 0 included, give 0; values at or above `upper` give 255.
[[nodiscard]] std::uint8_t logIndex(float v, float lower, float upper);

/// Colour index 0..255 of `v` on the maps' square-root scale from `lower` to `upper`, with the
/// maps' arithmetic; values outside the bounds are clamped to them, and a scale whose bounds
/// are equal gives 0.
[[nodiscard]] std::uint8_t sqrtIndex(float v, float lower, float upper);

/// Grey level 0..255 of every cell (memory order) lit from the north-west, 45 degrees above
/// the horizon, from the elevations and the cells' true extents (926.6 m north-south,
/// `cellWidth` east-west); `exaggeration` multiplies the heights. Border cells copy their
/// neighbour's slope.
[[nodiscard]] std::vector<std::uint8_t> hillshade(const StudyGrid& grid, double exaggeration);

/// The rain over each listed river's basin, hour by hour: the mean intensity (mm/h) over the
/// river's simulated cells with a flow accumulation above 0, weighted by cell area, each cell
/// taking the rain of its nearest rainfall point.
struct BasinRain {
    std::map<std::int32_t, std::vector<double>> byRiver;  ///< hours 1..24*days
    CellIndex unmatchedCell = kNoCell;                    ///< a cell with no rainfall point
};
[[nodiscard]] BasinRain basinRainByRiver(const StudyGrid& grid, const RiverList& rivers,
                                         const RainGrid& rain);

}  // namespace hydro::results_page
