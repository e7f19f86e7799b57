#pragma once

// The order in which the time loop takes the cells: by flow accumulation class, ascending,
// and within a class rows north to south, each row west to east. A cell's upstream
// neighbours drain through it, so they normally come first.

#include <cstdint>
#include <vector>

#include "case/drainage_network.h"

namespace hydro::runoff {

/// The distinct positive flow accumulations of every cell of the grid, ascending.
[[nodiscard]] std::vector<std::int32_t> collectAccClasses(const StudyGrid& grid);

/// Every routed cell in the order the time loop takes them.
[[nodiscard]] std::vector<CellIndex> orderRoutedCells(const StudyGrid& grid,
                                                      const RiverList& rivers);

}  // namespace hydro::runoff
