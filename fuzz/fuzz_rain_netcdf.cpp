// The NetCDF rain reader of make_case on any bytes: the input is the file, opened from memory
// (GDAL's /vsimem/) and read as make_case rain reads one NetCDF file for a study area of -118
// to -117.667 E, 34 to 34.25 N, with no other option. Whatever the bytes, the result is a grid
// of finite ascending coordinates within the rain limits, with at least one hour and at most
// the longest event, a start within the years 1 to 9999 and every hour one value per point
// (NaN where the file has none; the values themselves are judged by the caller against the
// rain limits); or the error is one printable line. No dataset, file or descriptor stays open.
// Inputs that GDAL does not take for NetCDF, and NetCDF-4 (HDF5) files, are skipped.

#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "case/time_parse.h"
#include "fuzz/fuzz_support.h"
#include "make_case/rain_limits.h"
#include "make_case/rain_source.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

namespace {

bool ascending(const std::vector<double>& v) {
    for (std::size_t k = 0; k < v.size(); ++k) {
        if (!std::isfinite(v[k]) || (k > 0 && !(v[k] > v[k - 1]))) {
            return false;
        }
    }
    return !v.empty();
}

void checkSeries(const hydro::make_case::RainSeries& rain) {
    using hydro::make_case::kMaxEventHours;
    using hydro::make_case::kMaxRainPoints;
    require(ascending(rain.lat) && ascending(rain.lon), "coordinates not finite and ascending");
    const std::size_t points = rain.lat.size() * rain.lon.size();
    require(points <= static_cast<std::size_t>(kMaxRainPoints), "more rain points than allowed");
    require(!rain.hours.empty() && rain.hours.size() <= static_cast<std::size_t>(kMaxEventHours),
            "no hours, or more than the longest event");
    require(rain.startUnix >= hydro::kFirstInstant && rain.startUnix <= hydro::kLastInstant,
            "a start out of range");
    for (const auto& hour : rain.hours) {
        require(hour.size() == points, "an hour without one value per point");
    }
    require(!rain.description.empty(), "a series without a description");
}

/// The number of datasets GDAL holds open.
int openDatasets() {
    static FILE* const sink = std::fopen("/dev/null", "w");
    return GDALDumpOpenDatasets(sink);
}

}  // namespace

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/vsimem/fuzz_rain_netcdf/rain.nc";
    const hydro::fuzz::DescriptorCheck descriptors;
    // GDAL reads the buffer in place and leaves it to the caller.
    auto* bytes = const_cast<GByte*>(data);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    VSILFILE* file =
        VSIFileFromMemBuffer(path.c_str(), bytes, static_cast<vsi_l_offset>(size), FALSE);
    require(file != nullptr, "the in-memory file cannot be made");
    VSIFCloseL(file);

    // Other formats go to GDAL's other drivers, and NetCDF-4 files to the HDF5 library, whose
    // faults on damaged files are not this reader's to find: only the classic formats are read.
    const bool classic = size >= 4 && data[0] == 'C' && data[1] == 'D' && data[2] == 'F'
                         && (data[3] == 1 || data[3] == 2 || data[3] == 5);
    static const bool registered = (GDALAllRegister(), true);
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALDriverH driver = registered ? GDALIdentifyDriver(path.c_str(), nullptr) : nullptr;
    CPLPopErrorHandler();
    if (!classic || driver == nullptr || std::string(GDALGetDriverShortName(driver)) != "netCDF") {
        require(VSIUnlink(path.c_str()) == 0, "the in-memory file cannot be removed");
        return 0;
    }

    hydro::make_case::RainReadOptions options;
    options.paths = {path};
    options.west = -118.0;
    options.south = 34.0;
    options.east = -118.0 + 40 / 120.0;
    options.north = 34.0 + 30 / 120.0;
    const auto rain = hydro::make_case::readRainSeries(options);
    require(openDatasets() == 0, "a dataset left open");
    require(VSIUnlink(path.c_str()) == 0, "the in-memory file cannot be removed");
    if (!rain) {
        requirePrintableLine(rain.error().message);
        return 0;
    }
    checkSeries(*rain);
    return 0;
}
