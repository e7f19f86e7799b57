#pragma once

// The study grid: one record per 30-arc-second cell in one flat array, row 0 the northernmost
// row and column 0 the westernmost; links between cells are indices into that array.

#include <array>
#include <cstdint>
#include <vector>

#include "case/grid_shape.h"

namespace hydro {

inline constexpr int kUpstreamSlots = 7;
/// North-south extent of a 30-arc-second cell, m.
inline constexpr float kCellHeightF = 926.6F;
inline constexpr double kCellHeight = 926.6;
/// Value `flowDir` holds after `resetLinks` until the flow-direction grid is read.
inline constexpr std::int32_t kUnreadFlowDir = 10;

struct StudyGrid;

/// One cell of the study area: position and width, topographic values and drainage links.
struct GridCell {
    float latSec = 0.0F;              ///< latitude of the centre, arc-seconds
    float lonSec = 0.0F;              ///< longitude of the centre, arc-seconds
    std::int32_t flowDir = 0;         ///< D8 code: 1 north, clockwise to 8 north-west
    std::int32_t flowAcc = 0;         ///< cells draining through this cell
    std::int32_t upstreamCount = 0;   ///< filled upstream slots (set for routed cells only)
    std::int32_t riverNum = -1;       ///< river number, negative outside every river
    float cellWidth = 0.0F;           ///< east-west extent, m
    float elevation = 0.0F;           ///< m
    std::int32_t rainCell = kNoCell;  ///< nearest rainfall point (index into the rain grid)
    CellIndex downstream = kNoCell;   ///< the cell this one drains into
    std::array<CellIndex, kUpstreamSlots> upstream{};  ///< cells draining into this one
    std::uint8_t isEdge = 0;                           ///< 1 in the first or last row or column

    /// Sets the centre position, east-west width, elevation and border flag, all in single
    /// precision as the grid files hold them (pi taken as 3.14 for the width).
    void initGeometry(std::int32_t row, std::int32_t column, std::int32_t studyRows,
                      std::int32_t studyCols, float swLat, float swLon, float cellElevation);
    /// Empties every link; `flowDir` becomes 10 until the flow-direction grid is read.
    void resetLinks();
    /// Sets `downstream` from `flowDir`; codes outside 1..8 and neighbours outside the grid
    /// give no link.
    void linkDownstream(std::int32_t row, std::int32_t column, const StudyGrid& grid);
    /// Counts the filled upstream slots (they fill from the front).
    void countUpstream();
    /// True when the cell takes part in routing: on a river and not on the border.
    [[nodiscard]] bool isRiverInterior() const { return riverNum >= 0 && isEdge == 0; }
};

/// The cells in one flat array, addressed as `GridShape` says.
struct StudyGrid : GridShape {
    std::vector<GridCell> cells;

    GridCell& operator[](CellIndex i) { return cells[static_cast<std::size_t>(i)]; }
    const GridCell& operator[](CellIndex i) const { return cells[static_cast<std::size_t>(i)]; }
};

/// Row and column offsets of the D8 codes 1..8 (north, then clockwise).
struct D8Offset {
    std::int32_t row;
    std::int32_t column;
};
inline constexpr std::array<D8Offset, 9> kD8Offsets{{
    {0, 0},
    {-1, 0},
    {-1, 1},
    {0, 1},
    {1, 1},
    {1, 0},
    {1, -1},
    {0, -1},
    {-1, -1},
}};

/// Enters `cell` in the first empty upstream slot of its downstream cell; a cell without a
/// downstream link, or whose downstream cell has all seven slots taken, registers nowhere.
void registerWithDownstream(StudyGrid& grid, CellIndex cell);

/// Area of a cell, m2: kCellHeight (926.6 m) north-south times its east-west width, in double
/// precision as the simulator forms the rain it receives.
[[nodiscard]] inline double cellAreaM2(const GridCell& cell) {
    return kCellHeight * static_cast<double>(cell.cellWidth);
}

}  // namespace hydro
