#include "case/grid_cell.h"

#include <cmath>

namespace hydro {

void GridCell::initGeometry(std::int32_t row, std::int32_t column, std::int32_t studyRows,
                            std::int32_t studyCols, float swLat, float swLon, float cellElevation) {
    // The offsets in arc-seconds are whole numbers formed in 64 bits (a grid of 80 million
    // rows passes the size check) and then rounded once to single precision.
    const std::int64_t northOffset = std::int64_t{30} * (std::int64_t{studyRows} - 1 - row);
    const std::int64_t eastOffset = std::int64_t{30} * column;
    latSec = (swLat * 3600.0F + static_cast<float>(northOffset)) + 15.0F;
    lonSec = (swLon * 3600.0F + static_cast<float>(eastOffset)) + 15.0F;
    const double angle = static_cast<double>(latSec) / 3600.0 / 180.0 * 3.14;
    cellWidth = static_cast<float>(std::cos(angle)) * kCellHeightF;
    elevation = cellElevation;
    isEdge = (row == 0 || row == studyRows - 1 || column == 0 || column == studyCols - 1) ? 1 : 0;
}

void GridCell::resetLinks() {
    flowDir = kUnreadFlowDir;
    downstream = kNoCell;
    upstream.fill(kNoCell);
    rainCell = kNoCell;
}

void GridCell::linkDownstream(std::int32_t row, std::int32_t column, const StudyGrid& grid) {
    if (flowDir < 1 || flowDir > 8) {
        return;
    }
    const D8Offset o = kD8Offsets[static_cast<std::size_t>(flowDir)];
    const std::int32_t r = row + o.row;
    const std::int32_t c = column + o.column;
    if (grid.contains(r, c)) {
        downstream = grid.index(r, c);
    }
}

void GridCell::countUpstream() {
    upstreamCount = 0;
    for (CellIndex u : upstream) {
        if (u == kNoCell) {
            break;
        }
        ++upstreamCount;
    }
}

void registerWithDownstream(StudyGrid& grid, CellIndex cell) {
    const CellIndex d = grid[cell].downstream;
    if (d == kNoCell) {
        return;
    }
    for (CellIndex& slot : grid[d].upstream) {
        if (slot == kNoCell) {
            slot = cell;
            return;
        }
    }
}

}  // namespace hydro
