#pragma once

// The simulator's three discharge grids as one CF-NetCDF file: the hourly means, the daily
// means and daily maxima, the event's largest hourly mean and its time, on latitude and
// longitude axes at the cell centres, one frame in memory at a time.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "case/event_parameters.h"
#include "case/event_start.h"
#include "common/result.h"
#include "results/grid_chunks.h"
#include "results/netcdf_file.h"

namespace hydro::results {

/// No-data value of the simulator's grids, kept as the NetCDF fill value.
inline constexpr float kNoData = -9999.0F;

/// WGS 84 geographic coordinates (EPSG:4326) in OGC WKT, as GDAL writes them.
extern const char* const kWgs84Wkt;

/// Centres of `count` cells of 30 arc-seconds from the outer edge `edgeDeg` (degrees, single
/// precision as the simulator holds it), in double precision: edge + (k + 0.5) / 120.
[[nodiscard]] std::vector<double> cellCentres(float edgeDeg, std::int32_t count);

/// The scalar `crs` variable (latitude_longitude on WGS 84); returns its id.
int defineCrs(NetcdfFile& nc);

/// The coordinate variables `lat` and `lon` of cell centres (CF attributes) on the dimensions
/// given, and the `crs` variable.
struct LatLonIds {
    int lat = -1;
    int lon = -1;
    int crs = -1;  ///< the scalar crs variable
};
[[nodiscard]] LatLonIds defineLatLon(NetcdfFile& nc, int latDim, int lonDim);

/// The 18 event parameters as global attributes named after them; a channel width law other
/// than the model's adds channel_width_coefficient_m, channel_width_exponent and
/// channel_width_law (its formula as text).
void putEventParameterAttributes(NetcdfFile& nc, const EventParameters& p);

/// The routing scheme of the run as global attributes `scheme` ("linear", "conservative")
/// and `scheme_description` (one sentence); none when the scheme is not known.
void putSchemeAttributes(NetcdfFile& nc, const std::optional<std::string>& scheme);

/// The program and project version, for the `source` attribute.
[[nodiscard]] std::string sourceText(const std::string& program);

/// What the grids are written as: one NetCDF-4 file, or a Zarr store (a folder).
enum class StoreFormat { kNetcdf, kZarr };

/// The most significant digits quantization may keep. A float holds about 7.2, and at 7 the
/// library's granular bit rounding (NetCDF 4.9.0) asks to keep more mantissa bits than a float
/// has and shifts its mask out of range: some values come back as 0. Without quantization
/// every digit is kept.
inline constexpr int kMaxSignificantDigits = 6;

struct GridNetcdfJob {
    std::filesystem::path outputDir;  ///< folder of the three .bin grids
    std::filesystem::path target;     ///< the NetCDF file to write (under a temporary name)
    EventParameters params;
    EventStart start;
    std::string history;                 ///< the `history` attribute
    std::optional<std::string> comment;  ///< the `comment` attribute (the case's note), if any
    std::optional<std::string> scheme;   ///< the run's routing scheme, when known
    std::ostream* progress = nullptr;    ///< progress lines, or none
    int deflateLevel = kDeflateLevel;    ///< 0 (none) to 9; a Zarr store is not deflated
    ChunkLayout chunks = ChunkLayout::kFrames;
    /// Significant decimal digits kept of the discharges (1 to 6; lossy), or all of them.
    std::optional<int> significantDigits;
    StoreFormat format = StoreFormat::kNetcdf;
    /// Deflated chunks made on every core and stored as they are, when the file is deflated
    /// and not quantized; false lets the NetCDF library deflate every chunk itself, one after
    /// the other. The values read back are the same either way.
    bool parallelChunks = true;
};

/// Writes the whole file (or store) under a temporary name beside `job.target` and puts it in
/// place only once it is complete; a failure leaves an earlier file as it was. An existing
/// Zarr store is replaced only by a store: a folder without ".zgroup" is refused. The error
/// is the one line that says what went wrong.
[[nodiscard]] Status writeGridNetcdf(const GridNetcdfJob& job);

}  // namespace hydro::results
