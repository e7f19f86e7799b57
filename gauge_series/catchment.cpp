#include "gauge_series/catchment.h"

#include "results/snapping.h"

namespace hydro::gauges {

Result<std::vector<std::int32_t>> nearestRainPoints(const StudyGrid& grid, const RainGrid& rain) {
    std::vector<std::int32_t> points(grid.cells.size(), -1);
    for (CellIndex i = 0; i < static_cast<CellIndex>(grid.cells.size()); ++i) {
        const GridCell& cell = grid[i];
        if (!cell.isRiverInterior()) {
            continue;
        }
        const std::int32_t p = findNearestRainCell(cell.latSec, cell.lonSec, rain);
        if (p < 0) {
            return Error{"No rainfall point of rain.dat lies near the cell at column "
                         + std::to_string(grid.userColumn(i)) + ", row "
                         + std::to_string(grid.userRow(i)) + "."};
        }
        points[static_cast<std::size_t>(i)] = p;
    }
    return points;
}

std::vector<CellIndex> upstreamCells(const StudyGrid& grid, CellIndex outlet) {
    std::vector<CellIndex> cells{outlet};
    // Links form a tree towards the outlet, so a breadth-first walk meets each cell once.
    for (std::size_t k = 0; k < cells.size(); ++k) {
        for (const CellIndex u : grid[cells[k]].upstream) {
            if (u == kNoCell) {
                break;
            }
            if (grid[u].isRiverInterior()) {
                cells.push_back(u);
            }
        }
    }
    return cells;
}

std::vector<double> meanRainfall(const StudyGrid& grid, const RainGrid& rain,
                                 const std::vector<std::int32_t>& points,
                                 const std::vector<CellIndex>& cells) {
    const std::int32_t hours = rain.days * 24;
    std::vector<double> sum(static_cast<std::size_t>(hours), 0.0);
    double area = 0.0;
    for (const CellIndex i : cells) {
        const std::int32_t p = points[static_cast<std::size_t>(i)];
        if (p < 0) {
            continue;
        }
        const double a = cellAreaM2(grid[i]);
        area += a;
        for (std::int32_t h = 0; h < hours; ++h) {
            sum[static_cast<std::size_t>(h)] +=
                a * static_cast<double>(rain.rainAt(p, h / 24 + 1, h % 24));
        }
    }
    if (area > 0.0) {
        for (double& v : sum) {
            v /= area;
        }
    }
    return sum;
}

}  // namespace hydro::gauges
