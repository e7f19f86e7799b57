#pragma once

// What the event did on each listed river: the rain that fell on its routed cells, the water
// that left through its outlet, their difference and the runoff coefficient.

#include <cstdint>
#include <optional>
#include <vector>

#include "case/grid_cell.h"
#include "case/rain_grid.h"
#include "case/river_list.h"

namespace hydro::gauges {

struct RiverBalance {
    std::int32_t river = -1;
    std::int64_t cells = 0;      ///< routed cells of the river
    CellIndex outlet = kNoCell;  ///< its cell with the largest accumulation
    double rainM3 = 0.0;         ///< rain on its routed cells
    double outflowM3 = 0.0;      ///< sum of the outlet's hourly means * 3600 s
    /// rain - outflow: the water still on its way, the initial runoff's share and the
    /// numerical scheme's own volume error.
    [[nodiscard]] double differenceM3() const { return rainM3 - outflowM3; }
    /// outflow / rain; empty without rain.
    [[nodiscard]] std::optional<double> runoffCoefficient() const {
        return rainM3 > 0.0 ? std::optional<double>(outflowM3 / rainM3) : std::nullopt;
    }
};

/// One entry per listed river with at least one routed cell (on the river, off the border, with
/// a positive flow accumulation), in ascending river number, with
/// its cells, outlet (the first in file order of equal accumulations: south rows first, then
/// west) and rain; the outflow is left for the caller to add from the hourly grid.
[[nodiscard]] std::vector<RiverBalance> planWaterBalance(const StudyGrid& grid,
                                                         const RiverList& rivers,
                                                         const RainGrid& rain,
                                                         const std::vector<std::int32_t>& points);

}  // namespace hydro::gauges
