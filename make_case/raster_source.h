#pragma once

// Rasters read through GDAL onto the simulator's grid: a DEM from any CRS GDAL knows, warped
// with averaging (or taken as it is when it already lies on the grid), and D8 or accumulation
// rasters, which must already lie on it.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/result.h"
#include "make_case/terrain_grid.h"

namespace hydro::make_case {

struct DemRequest {
    std::filesystem::path path;
    std::optional<std::string> crs;             ///< for a DEM without one (--dem-crs)
    std::optional<std::array<double, 4>> bbox;  ///< west, south, east, north, degrees
};

/// The DEM on the grid `onGrid`, or when that is not given on the grid of its extent shrunk
/// inward to 30" edges (or of the box). The error names the file and what is wrong.
/// Warping a grid of more than `progressCells` cells reports each tenth done on `progress`
/// (its only output; none when null).
[[nodiscard]] Result<Terrain> loadDem(const DemRequest& request,
                                      const std::optional<GridSpec>& onGrid,
                                      std::ostream* progress = nullptr,
                                      std::int64_t progressCells = 0);

/// An integer raster that lies on a 30" WGS 84 grid, cropped to the box when one is given.
struct IntegerRaster {
    GridSpec gridSpec;
    std::vector<std::int32_t> values;  ///< row 0 north
    std::vector<std::uint8_t> noData;  ///< 1 where the band's no-data value, or off the raster
};
/// The error names the file and what is wrong.
[[nodiscard]] Result<IntegerRaster> loadGridRaster(const std::filesystem::path& path,
                                                   const std::optional<std::array<double, 4>>& bbox,
                                                   const std::optional<GridSpec>& onGrid);

}  // namespace hydro::make_case
