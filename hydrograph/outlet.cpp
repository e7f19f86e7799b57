#include "hydrograph/outlet.h"

namespace hydro::hydrograph {

namespace {

OutletCell describe(const runoff::StudyGrid& grid, runoff::CellIndex i) {
    const runoff::GridCell& cell = grid[i];
    return {i, grid.columnOf(i) + 1, grid.rows - grid.rowOf(i), cell.riverNum, cell.flowAcc};
}

}  // namespace

std::optional<OutletCell> findOutlet(const runoff::StudyGrid& grid,
                                     const runoff::RiverList& rivers) {
    std::optional<OutletCell> best;
    // File order: the south row first, so equal accumulations keep the southern, then western
    // cell.
    for (std::int32_t row = grid.rows - 1; row >= 0; --row) {
        for (std::int32_t column = 0; column < grid.cols; ++column) {
            const runoff::CellIndex i = grid.index(row, column);
            const runoff::GridCell& cell = grid[i];
            if (cell.isEdge != 0 || !rivers.isListedRiver(cell.riverNum)) {
                continue;
            }
            if (!best || cell.flowAcc > best->flowAcc) {
                best = describe(grid, i);
            }
        }
    }
    return best;
}

std::optional<OutletCell> cellAt(const runoff::StudyGrid& grid, std::int64_t column,
                                 std::int64_t row) {
    if (column < 1 || column > grid.cols || row < 1 || row > grid.rows) {
        return std::nullopt;
    }
    const auto gridRow = static_cast<std::int32_t>(grid.rows - row);
    const auto gridColumn = static_cast<std::int32_t>(column - 1);
    return describe(grid, grid.index(gridRow, gridColumn));
}

}  // namespace hydro::hydrograph
