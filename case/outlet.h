#pragma once

// The outlet of a basin: the cell of a listed river, off the border, that the most cells drain
// through, and the numbering of cells that the series extractor uses (columns from the west,
// rows from the south, both from 1).

#include <cstdint>
#include <optional>

#include "case/grid_cell.h"
#include "case/river_list.h"

namespace hydro {

struct OutletCell {
    CellIndex index = kNoCell;  ///< index into the study grid
    std::int32_t column = 0;    ///< 1-based, from the west
    std::int32_t row = 0;       ///< 1-based, from the south
    std::int32_t riverNum = -1;
    std::int32_t flowAcc = 0;
};

/// The cell with the largest flow accumulation among the interior cells on a listed river;
/// of equal ones the first in file order (rows south to north, each row west to east).
/// Nothing when no interior cell lies on a listed river.
[[nodiscard]] std::optional<OutletCell> findOutlet(const StudyGrid& grid, const RiverList& rivers);

/// The cell at `column` (from the west) and `row` (from the south), both from 1; nothing when
/// that lies outside the grid.
[[nodiscard]] std::optional<OutletCell> cellAt(const StudyGrid& grid, std::int64_t column,
                                               std::int64_t row);

}  // namespace hydro
