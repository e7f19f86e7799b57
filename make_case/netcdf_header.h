#pragma once

// A check of a classic NetCDF header (the 32-bit, 64-bit-offset and 64-bit-data formats) before
// the file goes to the NetCDF library, which reserves memory for whatever sizes a header
// declares: a damaged header would otherwise cost gigabytes or end the process.

#include <filesystem>

#include "common/result.h"

namespace hydro::make_case {

/// Success unless `path` (any GDAL file name, /vsimem/ included) starts with a classic NetCDF
/// signature and its header declares more than the file holds: a name, a list of dimensions,
/// attributes or variables, or an attribute's values that run past the end of the file; a
/// variable whose data (from its declared offset, with its declared size and with the size its
/// dimensions give) ends past the end of the file; records that do not fit; or an unknown type
/// or list tag, or strings, which no classic file holds. The error is
/// "<path> is not a readable NetCDF file: its header claims more data than the file holds."
/// Files in any other format (NetCDF-4 in HDF5 among them), and files that cannot be opened,
/// pass: whoever opens them next reports those.
[[nodiscard]] Status checkNetCdfHeader(const std::filesystem::path& path);

}  // namespace hydro::make_case
