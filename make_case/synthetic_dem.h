#pragma once

// Synthetic terrain for tests and benchmarks: reproducible fractal DEMs full of pits, and
// GeoTIFFs of a terrain on the 30" grid.

#include <cstdint>
#include <filesystem>

#include "make_case/terrain_grid.h"

namespace hydro::make_case {

/// A fractal surface (value noise over octaves, roughness rising towards small scales) with
/// white noise on top, so that it holds pits everywhere; the same seed gives the same DEM.
[[nodiscard]] Terrain fractalTerrain(const GridSpec& gridSpec, std::uint64_t seed);

struct GeoTiffOptions {
    double originOffsetDeg = 0.0;  ///< added to both origin coordinates (rounding of real files)
    bool withCrs = true;           ///< false writes a geotransform without a CRS
};

/// Writes the terrain as a Float32 GeoTIFF in WGS 84 (EPSG:4326), outside cells as no-data
/// -9999. Returns false when it cannot be written.
[[nodiscard]] bool writeTerrainGeoTiff(const std::filesystem::path& path, const Terrain& terrain,
                                       const GeoTiffOptions& options = {});

}  // namespace hydro::make_case
