#include "hydrograph/basin_rainfall.h"

namespace hydro::hydrograph {

BasinRainfall basinRainfall(const StudyGrid& grid, const RainGrid& rain, std::int32_t riverNum) {
    BasinRainfall out;
    const std::size_t hours = static_cast<std::size_t>(rain.days) * 24U;
    std::vector<double> weighted(hours, 0.0);
    double totalArea = 0.0;
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
        const GridCell& cell = grid.cells[i];
        if (cell.riverNum != riverNum || cell.isEdge != 0 || cell.flowAcc <= 0) {
            continue;
        }
        const std::int32_t point = findNearestRainCell(cell.latSec, cell.lonSec, rain);
        if (point < 0) {
            out.unmatchedCell = static_cast<CellIndex>(i);
            return out;
        }
        const double area = kCellHeight * static_cast<double>(cell.cellWidth);
        totalArea += area;
        ++out.cellCount;
        std::size_t n = 0;
        for (std::int32_t day = 1; day <= rain.days; ++day) {
            for (std::int32_t hourIndex = 0; hourIndex < 24; ++hourIndex) {
                weighted[n++] += area * static_cast<double>(rain.rainAt(point, day, hourIndex));
            }
        }
    }
    out.mmPerHour.assign(hours, 0.0);
    if (totalArea > 0.0) {
        for (std::size_t n = 0; n < hours; ++n) {
            out.mmPerHour[n] = weighted[n] / totalArea;
        }
    }
    return out;
}

}  // namespace hydro::hydrograph
