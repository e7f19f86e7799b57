#include "case/basin_rainfall.h"

namespace hydro {

RiversRainfall basinRainfallByRiver(const StudyGrid& grid, const RainGrid& rain,
                                    const std::function<bool(std::int32_t)>& takes) {
    RiversRainfall out;
    const std::size_t hours = static_cast<std::size_t>(rain.days) * 24U;
    std::map<std::int32_t, double> areas;
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
        const GridCell& cell = grid.cells[i];
        if (cell.isEdge != 0 || cell.flowAcc <= 0 || !takes(cell.riverNum)) {
            continue;
        }
        const std::int32_t point = findNearestRainCell(cell.latSec, cell.lonSec, rain);
        if (point < 0) {
            out.unmatchedCell = static_cast<CellIndex>(i);
            return out;
        }
        const double area = kCellHeight * static_cast<double>(cell.cellWidth);
        areas[cell.riverNum] += area;
        BasinRainfall& basin = out.byRiver[cell.riverNum];
        basin.mmPerHour.resize(hours, 0.0);
        ++basin.cellCount;
        std::size_t n = 0;
        for (std::int32_t day = 1; day <= rain.days; ++day) {
            for (std::int32_t hourIndex = 0; hourIndex < 24; ++hourIndex) {
                basin.mmPerHour[n++] +=
                    area * static_cast<double>(rain.rainAt(point, day, hourIndex));
            }
        }
    }
    for (auto& [river, basin] : out.byRiver) {
        const double total = areas[river];
        for (double& value : basin.mmPerHour) {
            value /= total;
        }
    }
    return out;
}

BasinRainfall basinRainfall(const StudyGrid& grid, const RainGrid& rain, std::int32_t riverNum) {
    RiversRainfall all =
        basinRainfallByRiver(grid, rain, [riverNum](std::int32_t r) { return r == riverNum; });
    if (all.unmatchedCell != kNoCell) {
        BasinRainfall out;
        out.unmatchedCell = all.unmatchedCell;
        return out;
    }
    if (const auto found = all.byRiver.find(riverNum); found != all.byRiver.end()) {
        return std::move(found->second);
    }
    BasinRainfall none;
    none.mmPerHour.assign(static_cast<std::size_t>(rain.days) * 24U, 0.0);
    return none;
}

}  // namespace hydro
