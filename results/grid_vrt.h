#pragma once

// GDAL virtual-raster (VRT) descriptions of the raw discharge grids, so that GIS tools open
// them directly: the raw file is presented north-up (its frames store the southern row
// first), georeferenced in WGS 84 longitude/latitude with 30-arc-second cells, one band per
// frame, -9999 as no-data.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "case/grid_shape.h"

namespace hydro::results {

/// Size and placement of the study grid as the simulator holds them.
struct GridFrameLayout {
    std::int32_t cols = 0;
    std::int32_t rows = 0;
    float swLon = 0.0F;  ///< outer south-west corner, degrees
    float swLat = 0.0F;
};

/// Band descriptions of a file with one frame per day ("day 1", "day 2", ...).
[[nodiscard]] std::vector<std::string> dailyBandNames(std::int32_t days);
/// Band descriptions of a file with one frame per hour ("day 1 hour 1" ... "day D hour 24").
[[nodiscard]] std::vector<std::string> hourlyBandNames(std::int32_t days);

/// Writes the VRT document of the raw single-precision grid `rawFileName` (a name relative to
/// the VRT file) holding one frame per entry of `bandNames`, in that order.
void writeGridVrt(std::ostream& out, const std::string& rawFileName, const GridFrameLayout& layout,
                  const std::vector<std::string>& bandNames);

}  // namespace hydro::results
