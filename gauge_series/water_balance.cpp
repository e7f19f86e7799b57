#include "gauge_series/water_balance.h"

#include <map>

#include "case/drainage_network.h"
#include "gauge_series/catchment.h"

namespace hydro::gauges {

std::vector<RiverBalance> planWaterBalance(const StudyGrid& grid, const RiverList& rivers,
                                           const RainGrid& rain,
                                           const std::vector<std::int32_t>& points) {
    std::map<std::int32_t, std::vector<CellIndex>> cellsOf;
    std::map<std::int32_t, CellIndex> outletOf;
    // File order: southern rows first, each row west to east.
    for (std::int32_t r = grid.rows - 1; r >= 0; --r) {
        for (std::int32_t c = 0; c < grid.cols; ++c) {
            const CellIndex i = grid.index(r, c);
            const GridCell& cell = grid[i];
            if (!isRouted(cell, rivers)) {
                continue;
            }
            cellsOf[cell.riverNum].push_back(i);
            auto [it, fresh] = outletOf.emplace(cell.riverNum, i);
            if (!fresh && cell.flowAcc > grid[it->second].flowAcc) {
                it->second = i;
            }
        }
    }
    std::vector<RiverBalance> balance;
    for (const auto& [river, cells] : cellsOf) {
        RiverBalance b;
        b.river = river;
        b.cells = static_cast<std::int64_t>(cells.size());
        b.outlet = outletOf[river];
        b.rainM3 = rainVolumeM3(grid, rain, points, cells);
        balance.push_back(b);
    }
    return balance;
}

}  // namespace hydro::gauges
