#pragma once

// The rain over parts of the simulated network: each routed cell takes the rain of its
// nearest rainfall point, as the simulator does, weighted by the cell's area.

#include <cstdint>
#include <vector>

#include "discharge_netcdf/case_input.h"
#include "runoff_sim/grid_cell.h"
#include "runoff_sim/rain_cell.h"

namespace hydro::gauges {

/// The nearest rainfall point of every cell the simulator routes (on a river, off the border);
/// -1 for the other cells. Fails, naming the cell, when a routed cell has no point near it.
results::Result<std::vector<std::int32_t>> nearestRainPoints(const runoff::StudyGrid& grid,
                                                             const runoff::RainGrid& rain);

/// The routed cells whose water reaches `outlet` along the simulator's links, the outlet
/// first; each cell once.
[[nodiscard]] std::vector<runoff::CellIndex> upstreamCells(const runoff::StudyGrid& grid,
                                                           runoff::CellIndex outlet);

/// Area-weighted mean rain intensity over `cells`, mm/h, for hours 1..24*days.
[[nodiscard]] std::vector<double> meanRainfall(const runoff::StudyGrid& grid,
                                               const runoff::RainGrid& rain,
                                               const std::vector<std::int32_t>& points,
                                               const std::vector<runoff::CellIndex>& cells);

/// Volume of the event's rain on `cells`, m3: the sum over cells and hours of
/// intensity (mm/h) * 0.001 * 926.6 m * cell width, in double precision.
[[nodiscard]] double rainVolumeM3(const runoff::StudyGrid& grid, const runoff::RainGrid& rain,
                                  const std::vector<std::int32_t>& points,
                                  const std::vector<runoff::CellIndex>& cells);

}  // namespace hydro::gauges
