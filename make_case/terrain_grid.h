#pragma once

// The terrain of a case on the simulator's grid: 30-arc-second cells in WGS 84 longitude and
// latitude, every edge on a multiple of 30", one flat array per quantity, row 0 the northernmost
// row and column 0 the westernmost.

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "case/grid_cell.h"

namespace hydro::make_case {

/// Cells per degree: a cell is 30 arc-seconds square.
inline constexpr int kCellsPerDegree = 120;

/// Placement of a grid: its outer south-west corner in whole cells from (0°, 0°), and its size.
struct GridSpec {
    std::int64_t westCells = 0;   ///< longitude of the west edge × 120
    std::int64_t southCells = 0;  ///< latitude of the south edge × 120
    std::int32_t cols = 0;
    std::int32_t rows = 0;

    [[nodiscard]] std::int64_t cellCount() const { return std::int64_t{cols} * rows; }
    [[nodiscard]] double westDeg() const { return static_cast<double>(westCells) / 120.0; }
    [[nodiscard]] double southDeg() const { return static_cast<double>(southCells) / 120.0; }
    [[nodiscard]] double eastDeg() const { return static_cast<double>(westCells + cols) / 120.0; }
    [[nodiscard]] double northDeg() const { return static_cast<double>(southCells + rows) / 120.0; }
    /// Rows and columns, for the numberings of the cells (case/grid_shape.h).
    [[nodiscard]] GridShape shape() const { return GridShape{rows, cols}; }
    bool operator==(const GridSpec&) const = default;
};

/// The south-west corner as `param-event.dat` holds it (text) and as the simulator reads it
/// back (single precision): the geometry of the flow directions must be the simulator's own.
struct CornerText {
    std::string lon;
    std::string lat;
    float lonF = 0.0F;
    float latF = 0.0F;
};
[[nodiscard]] CornerText cornerText(const GridSpec& gridSpec);

/// East-west width of the cells of a row, m, exactly as the simulator computes it from the
/// single-precision corner latitude (pi taken as 3.14).
[[nodiscard]] float simulatorCellWidth(std::int32_t row, std::int32_t rows, float swLat);

/// Flow lengths of the three kinds of step from a cell of a given width, m: north-south,
/// east-west and diagonal, the diagonal formed as the simulator forms it.
struct StepLengths {
    double northSouth = kCellHeight;
    double eastWest = 0.0;
    double diagonal = 0.0;
};
[[nodiscard]] StepLengths stepLengths(float cellWidth);

/// D8 codes of the simulator: 1 north, then clockwise to 8 north-west; 0 none. The same
/// offsets the simulator links its cells with.
inline constexpr const auto& kD8 = kD8Offsets;
/// Code of the opposite direction (the way back).
[[nodiscard]] constexpr std::int8_t oppositeCode(std::int32_t code) {
    return static_cast<std::int8_t>((code + 3) % 8 + 1);
}

/// Elevation of a grid, m, row 0 north; outside cells (no data, or not covered by the source)
/// are marked in `outside` and hold NaN until conditioning gives them a value.
struct Terrain {
    GridSpec gridSpec;
    std::vector<float> elevation;
    std::vector<std::uint8_t> outside;

    [[nodiscard]] std::int32_t index(std::int32_t row, std::int32_t col) const {
        return row * gridSpec.cols + col;
    }
};

/// Marks every non-finite elevation as outside.
void markOutside(Terrain& terrain);

}  // namespace hydro::make_case

namespace hydro::make_case {

/// Tolerance on grid edges, degrees: real files carry rounding.
inline constexpr double kEdgeTolerance = 1e-6;

/// The grid of 30" cells inside the box (west, south, east, north in degrees), each edge moved
/// inward to the nearest multiple of 30" (an edge within 1e-6° of one stays on it). An east
/// edge west of the west edge crosses the antimeridian. Nothing when no cell fits.
[[nodiscard]] std::optional<GridSpec> gridInside(double west, double south, double east,
                                                 double north);

/// Bytes make_case holds per cell of a grid while it builds a case (31 measured, rounded up).
inline constexpr std::int64_t kBytesPerCell = 32;
/// Most cells of a grid: cells are numbered in 32 bits.
inline constexpr std::int64_t kMaxGridCells = 2'000'000'000;

/// The machine's physical memory, bytes (the largest number when it cannot be told).
[[nodiscard]] std::int64_t physicalMemoryBytes();

/// Why a grid cannot make a case, as the end of a line after what names the grid: it reaches
/// a pole as runoff_sim reads it (latitudes beyond -90 to 90 from its single-precision corner),
/// or it needs more than `memoryBytes` (at `kBytesPerCell`) or more than `kMaxGridCells`
/// cells. Nothing when it can.
[[nodiscard]] std::optional<std::string> gridUnfit(const GridSpec& gridSpec,
                                                   std::int64_t memoryBytes);

/// The whole number of cells of a coordinate on a 30" edge (within 1e-6°), or nothing.
[[nodiscard]] std::optional<std::int64_t> onEdge(double degrees);

}  // namespace hydro::make_case
