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

std::vector<double> upstreamAreasM2(const StudyGrid& grid) {
    const auto n = static_cast<std::size_t>(grid.rows) * static_cast<std::size_t>(grid.cols);
    std::vector<CellIndex> down(n, kNoCell);
    std::vector<std::int32_t> inflows(n, 0);
    std::vector<double> area(n);
    for (std::int32_t r = 0; r < grid.rows; ++r) {
        for (std::int32_t c = 0; c < grid.cols; ++c) {
            const CellIndex i = grid.index(r, c);
            const auto k = static_cast<std::size_t>(i);
            area[k] = cellAreaM2(grid[i]);
            const std::int32_t dir = grid[i].flowDir;
            if (dir < 1 || dir > 8) {
                continue;
            }
            const D8Offset o = kD8Offsets[static_cast<std::size_t>(dir)];
            const std::int32_t rr = r + o.row;
            const std::int32_t cc = c + o.column;
            if (rr >= 0 && rr < grid.rows && cc >= 0 && cc < grid.cols) {
                down[k] = grid.index(rr, cc);
                ++inflows[static_cast<std::size_t>(down[k])];
            }
        }
    }
    // Sources first: a cell passes its area on once every cell draining into it has.
    std::vector<CellIndex> ready;
    for (std::size_t k = 0; k < n; ++k) {
        if (inflows[k] == 0) {
            ready.push_back(static_cast<CellIndex>(k));
        }
    }
    while (!ready.empty()) {
        const auto k = static_cast<std::size_t>(ready.back());
        ready.pop_back();
        const CellIndex d = down[k];
        if (d == kNoCell) {
            continue;
        }
        const auto dk = static_cast<std::size_t>(d);
        area[dk] += area[k];
        if (--inflows[dk] == 0) {
            ready.push_back(d);
        }
    }
    return area;
}

}  // namespace hydro
