#pragma once

// Rainfall products read through GDAL into hourly intensities on a regular latitude-longitude
// grid of points: CF-NetCDF files (the multidimensional API), and other rasters with a band per
// hour or a list of one-hour files. Failures come back as the one line to print.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"

class GDALDataset;

namespace hydro::make_case {

/// `src` averaged in memory onto the target grid that gdalwarp's `args` describe, as Float64
/// with NaN where nothing covers a cell; nothing when GDAL refuses.
[[nodiscard]] std::unique_ptr<GDALDataset> averageInMemory(GDALDataset& src,
                                                           std::vector<std::string> args);

struct RainReadOptions {
    std::vector<std::filesystem::path> paths;
    std::optional<std::string> variable;
    std::optional<std::int64_t> start;  ///< first hour, seconds since 1970 (--start)
    std::optional<std::int32_t> hours;  ///< hours to keep (--hours)
    std::optional<std::string> crs;     ///< for rasters without one (--crs)
    double scale = 1.0;                 ///< multiplies every value (--scale)
    double spacing = 0.05;              ///< degrees, grid of projected rasters (--spacing)
    std::optional<std::string> timeFormat;
    bool timeIsEnd = false;
    bool accumulated = false;
    bool spreadEvenly = false;
    /// The study area, degrees: west, south, east, north (points outside a margin are not read
    /// from projected rasters, and longitudes are taken near its centre).
    double west = 0.0, south = 0.0, east = 0.0, north = 0.0;
};

/// Hourly intensities in mm/h on a regular grid: row 0 south, column 0 west; NaN where the
/// product has no value.
struct RainSeries {
    std::vector<double> lat;  ///< point centres, ascending
    std::vector<double> lon;  ///< ascending, within 180 degrees of the study area's centre
    std::int64_t startUnix = 0;
    std::vector<std::vector<float>> hours;  ///< each lat.size() x lon.size(), row-major
    bool spread = false;                    ///< steps longer than an hour were spread evenly
    std::string description;                ///< what was read, for the console
};

/// Reads the product. Errors name the file and what is wrong; throws std::bad_alloc, before any
/// call into GDAL, when too little memory is left for it.
[[nodiscard]] Result<RainSeries> readRainSeries(const RainReadOptions& options);

}  // namespace hydro::make_case
