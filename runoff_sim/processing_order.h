#pragma once

// The order in which the time loop takes the cells: by flow accumulation class, ascending,
// and within a class rows north to south, each row west to east. A cell's upstream
// neighbours drain through it, so they normally come first.

#include <cstdint>
#include <vector>

#include "runoff_sim/grid_cell.h"
#include "runoff_sim/river_list.h"

namespace hydro::runoff {

/// The distinct positive flow accumulations of every cell of the grid, ascending.
[[nodiscard]] std::vector<std::int32_t> collectAccClasses(const StudyGrid& grid);

/// True for a cell the time loop runs: off the border, on a listed river, with a positive
/// flow accumulation.
[[nodiscard]] inline bool isRouted(const GridCell& cell, const RiverList& rivers) {
    return cell.isEdge == 0 && rivers.isListedRiver(cell.riverNum) && cell.flowAcc > 0;
}

/// Every routed cell in the order the time loop takes them.
[[nodiscard]] std::vector<CellIndex> orderRoutedCells(const StudyGrid& grid,
                                                      const RiverList& rivers);

}  // namespace hydro::runoff
