#include "make_case/synthetic_dem.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <array>
#include <cmath>
#include <vector>

namespace hydro::make_case {

namespace {

/// splitmix64: a small generator whose sequence is the same on every platform.
class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31U);
    }
    /// Uniform in [0, 1).
    float unit() { return static_cast<float>(next() >> 40U) / 16777216.0F; }

private:
    std::uint64_t state_;
};

}  // namespace

Terrain fractalTerrain(const GridSpec& gridSpec, std::uint64_t seed) {
    Terrain t;
    t.gridSpec = gridSpec;
    const auto rows = static_cast<std::size_t>(gridSpec.rows);
    const auto cols = static_cast<std::size_t>(gridSpec.cols);
    t.elevation.assign(rows * cols, 500.0F);
    SplitMix rng(seed);
    // Octaves from a lattice of 256 cells down to 2 cells; amplitude ~ spacing^0.8.
    for (std::size_t spacing = 256; spacing >= 2; spacing /= 2) {
        const std::size_t lr = rows / spacing + 2;
        const std::size_t lc = cols / spacing + 2;
        std::vector<float> lattice(lr * lc);
        for (float& v : lattice) {
            v = rng.unit() - 0.5F;
        }
        const auto amplitude =
            static_cast<float>(4.0 * std::pow(static_cast<double>(spacing), 0.8));
        const float inv = 1.0F / static_cast<float>(spacing);
        for (std::size_t r = 0; r < rows; ++r) {
            const std::size_t r0 = r / spacing;
            const float fr = static_cast<float>(r % spacing) * inv;
            for (std::size_t c = 0; c < cols; ++c) {
                const std::size_t c0 = c / spacing;
                const float fc = static_cast<float>(c % spacing) * inv;
                const float top =
                    lattice[r0 * lc + c0] * (1.0F - fc) + lattice[r0 * lc + c0 + 1] * fc;
                const float bottom = lattice[(r0 + 1) * lc + c0] * (1.0F - fc)
                                     + lattice[(r0 + 1) * lc + c0 + 1] * fc;
                t.elevation[r * cols + c] += amplitude * (top * (1.0F - fr) + bottom * fr);
            }
        }
    }
    for (float& z : t.elevation) {
        z += 3.0F * rng.unit();
    }
    t.outside.assign(rows * cols, 0);
    return t;
}

bool writeTerrainGeoTiff(const std::filesystem::path& path, const Terrain& terrain,
                         const GeoTiffOptions& options) {
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (driver == nullptr) {
        return false;
    }
    GDALDataset* ds = driver->Create(path.c_str(), terrain.gridSpec.cols, terrain.gridSpec.rows, 1,
                                     GDT_Float32, nullptr);
    if (ds == nullptr) {
        return false;
    }
    std::array<double, 6> gt{
        terrain.gridSpec.westDeg() + options.originOffsetDeg,  1.0 / 120.0, 0.0,
        terrain.gridSpec.northDeg() + options.originOffsetDeg, 0.0,         -1.0 / 120.0};
    ds->SetGeoTransform(gt.data());
    if (options.withCrs) {
        OGRSpatialReference srs;
        srs.importFromEPSG(4326);
        ds->SetSpatialRef(&srs);
    }
    GDALRasterBand* band = ds->GetRasterBand(1);
    band->SetNoDataValue(-9999.0);
    std::vector<float> values(terrain.elevation);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!terrain.outside.empty() && terrain.outside[i] != 0) {
            values[i] = -9999.0F;
        }
    }
    const bool ok =
        band->RasterIO(GF_Write, 0, 0, terrain.gridSpec.cols, terrain.gridSpec.rows, values.data(),
                       terrain.gridSpec.cols, terrain.gridSpec.rows, GDT_Float32, 0, 0, nullptr)
        == CE_None;
    GDALClose(GDALDataset::ToHandle(ds));
    return ok;
}

}  // namespace hydro::make_case
