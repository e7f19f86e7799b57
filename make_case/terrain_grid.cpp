#include "make_case/terrain_grid.h"

#include <unistd.h>

#include <cstdlib>
#include <iomanip>
#include <limits>
#include <sstream>

#include "case/event_parameters.h"

namespace hydro::make_case {

namespace {

/// Degrees of a whole number of cells, with enough digits that reading the text back gives the
/// single-precision value nearest to the exact multiple of 30".
std::string degreesText(std::int64_t cells) {
    std::ostringstream s;
    s << std::setprecision(12) << static_cast<double>(cells) / 120.0;
    return s.str();
}

}  // namespace

CornerText cornerText(const GridSpec& gridSpec) {
    CornerText t;
    t.lon = degreesText(gridSpec.westCells);
    t.lat = degreesText(gridSpec.southCells);
    t.lonF = std::strtof(t.lon.c_str(), nullptr);
    t.latF = std::strtof(t.lat.c_str(), nullptr);
    return t;
}

float simulatorCellWidth(std::int32_t row, std::int32_t rows, float swLat) {
    const float latSec = (swLat * 3600.0F + static_cast<float>(30 * (rows - 1 - row))) + 15.0F;
    const double angle = static_cast<double>(latSec) / 3600.0 / 180.0 * 3.14;
    return static_cast<float>(std::cos(angle)) * kCellHeightF;
}

StepLengths stepLengths(float cellWidth) {
    StepLengths s;
    s.eastWest = static_cast<double>(cellWidth);
    const float widthSquared = cellWidth * cellWidth;
    s.diagonal = std::sqrt(kCellHeight * kCellHeight + static_cast<double>(widthSquared));
    return s;
}

void markOutside(Terrain& terrain) {
    terrain.outside.assign(terrain.elevation.size(), 0);
    for (std::size_t i = 0; i < terrain.elevation.size(); ++i) {
        terrain.outside[i] = std::isfinite(terrain.elevation[i]) ? 0 : 1;
    }
}

}  // namespace hydro::make_case

namespace hydro::make_case {

std::optional<std::int64_t> onEdge(double degrees) {
    const double cells = std::round(degrees * 120.0);
    if (std::abs(degrees - cells / 120.0) <= kEdgeTolerance) {
        return static_cast<std::int64_t>(cells);
    }
    return std::nullopt;
}

std::optional<GridSpec> gridInside(double west, double south, double east, double north) {
    // Far beyond the globe the whole cells would overflow; such a box holds no grid.
    constexpr double kFar = 1e6;
    const auto near = [](double degrees) { return std::fabs(degrees) <= kFar; };
    if (!(near(west) && near(south) && near(east) && near(north))) {
        return std::nullopt;
    }
    if (east < west) {
        east += 360.0;
    }
    const auto inward = [](double degrees, bool up) {
        if (const auto exact = onEdge(degrees)) {
            return *exact;
        }
        return static_cast<std::int64_t>(up ? std::ceil(degrees * 120.0)
                                            : std::floor(degrees * 120.0));
    };
    GridSpec gridSpec;
    gridSpec.westCells = inward(west, true);
    gridSpec.southCells = inward(south, true);
    const std::int64_t eastCells = inward(east, false);
    const std::int64_t northCells = inward(north, false);
    const std::int64_t cols = eastCells - gridSpec.westCells;
    const std::int64_t rows = northCells - gridSpec.southCells;
    if (cols < 1 || rows < 1) {
        return std::nullopt;
    }
    gridSpec.cols = static_cast<std::int32_t>(cols);
    gridSpec.rows = static_cast<std::int32_t>(rows);
    return gridSpec;
}

}  // namespace hydro::make_case

namespace hydro::make_case {

std::int64_t physicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return std::int64_t{pages} * std::int64_t{pageSize};
}

std::optional<std::string> gridUnfit(const GridSpec& gridSpec, std::int64_t memoryBytes) {
    std::ostringstream why;
    // The simulator's own test, on the corner as it reads it back from param-event.dat.
    EventParameters asRead;
    asRead.swLat = cornerText(gridSpec).latF;
    asRead.studyRows = gridSpec.rows;
    if (!checkLatitudes(asRead)) {
        why << "the grid runs from latitude " << gridSpec.southDeg() << " to "
            << gridSpec.northDeg()
            << ", to or beyond a pole, where runoff_sim (reading its corner in single precision) "
               "finds it off the globe; keep it within -90 to 90 degrees with --bbox.";
        return why.str();
    }
    const std::int64_t cells = gridSpec.cellCount();
    const double gigabytes = static_cast<double>(cells) * kBytesPerCell / 1e9;
    if (cells > kMaxGridCells || gigabytes > static_cast<double>(memoryBytes) / 1e9) {
        why.precision(3);
        why << "the grid of " << gridSpec.cols << " x " << gridSpec.rows << " cells needs about "
            << gigabytes << " GB (" << kBytesPerCell << " bytes a cell)";
        if (cells > kMaxGridCells) {
            why << "; a case holds at most " << kMaxGridCells << " cells";
        } else {
            why << ", more than the " << static_cast<double>(memoryBytes) / 1e9
                << " GB of memory here";
        }
        why << ": take a smaller area with --bbox.";
        return why.str();
    }
    return std::nullopt;
}

}  // namespace hydro::make_case
