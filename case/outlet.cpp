#include "case/outlet.h"

namespace hydro {

namespace {

OutletCell describe(const StudyGrid& grid, CellIndex i) {
    const GridCell& cell = grid[i];
    return {i, grid.userColumn(i), grid.userRow(i), cell.riverNum, cell.flowAcc};
}

}  // namespace

std::optional<OutletCell> findOutlet(const StudyGrid& grid, const RiverList& rivers) {
    std::optional<OutletCell> best;
    // File order: the south row first, so equal accumulations keep the southern, then western
    // cell.
    for (std::int64_t k = 0; k < grid.cellCount(); ++k) {
        const CellIndex i = grid.indexOfFilePosition(k);
        const GridCell& cell = grid[i];
        if (cell.isEdge != 0 || !rivers.isListedRiver(cell.riverNum)) {
            continue;
        }
        if (!best || cell.flowAcc > best->flowAcc) {
            best = describe(grid, i);
        }
    }
    return best;
}

std::optional<OutletCell> cellAt(const StudyGrid& grid, std::int64_t column, std::int64_t row) {
    const auto i = grid.indexOfUser(column, row);
    if (!i) {
        return std::nullopt;
    }
    return describe(grid, *i);
}

}  // namespace hydro
