#include "routing/processing_order.h"

#include <algorithm>

namespace hydro::runoff {

std::vector<std::int32_t> collectAccClasses(const StudyGrid& grid) {
    std::vector<std::int32_t> values;
    values.reserve(grid.cells.size());
    for (const GridCell& cell : grid.cells) {
        if (cell.flowAcc > 0) {
            values.push_back(cell.flowAcc);
        }
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

std::vector<CellIndex> orderRoutedCells(const StudyGrid& grid, const RiverList& rivers) {
    std::vector<CellIndex> order;
    const auto n = static_cast<CellIndex>(grid.cells.size());
    for (CellIndex i = 0; i < n; ++i) {
        if (isRouted(grid[i], rivers)) {
            order.push_back(i);
        }
    }
    // Scan order within a class: a stable sort by class keeps it.
    std::stable_sort(order.begin(), order.end(),
                     [&](CellIndex a, CellIndex b) { return grid[a].flowAcc < grid[b].flowAcc; });
    return order;
}

}  // namespace hydro::runoff
