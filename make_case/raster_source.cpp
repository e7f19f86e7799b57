#include "make_case/raster_source.h"

#include <gdal_priv.h>
#include <gdal_utils.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>

#include "common/number_stream.h"

namespace hydro::make_case {

namespace {

struct DatasetCloser {
    void operator()(GDALDataset* ds) const noexcept { GDALClose(GDALDataset::ToHandle(ds)); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

struct TransformDeleter {
    void operator()(OGRCoordinateTransformation* t) const noexcept {
        OGRCoordinateTransformation::DestroyCT(t);
    }
};

std::string num(double v) {
    std::ostringstream s;
    s.precision(17);
    s << v;
    return s.str();
}

Result<Dataset> openRaster(const std::filesystem::path& path) {
    GDALAllRegister();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    Dataset ds(GDALDataset::FromHandle(
        GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
    CPLPopErrorHandler();
    if (!ds || ds->GetRasterCount() < 1) {
        return Error{path.string() + " cannot open as a raster."};
    }
    return {std::move(ds)};
}

/// The source's placement on the 30" WGS 84 grid, when it lies on one.
std::optional<GridSpec> sourceGrid(GDALDataset& ds, const OGRSpatialReference* srs) {
    std::array<double, 6> gt{};
    if (ds.GetGeoTransform(gt.data()) != CE_None || gt[2] != 0.0 || gt[4] != 0.0) {
        return std::nullopt;
    }
    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    if (srs == nullptr || srs->IsGeographic() == 0 || srs->IsSameGeogCS(&wgs84) == 0) {
        return std::nullopt;
    }
    const int cols = ds.GetRasterXSize();
    const int rows = ds.GetRasterYSize();
    const auto west = onEdge(gt[0]);
    const auto east = onEdge(gt[0] + cols * gt[1]);
    const auto north = onEdge(gt[3]);
    const auto south = onEdge(gt[3] + rows * gt[5]);
    if (!west || !east || !north || !south || *east - *west != cols || *north - *south != rows) {
        return std::nullopt;
    }
    return GridSpec{*west, *south, cols, rows};
}

/// Copies the part of `source` (on grid `from`) that overlaps `target` into `values`; cells
/// of the target off the source, and no-data cells, are flagged.
template <class T>
bool readOverlap(GDALDataset& ds, const GridSpec& from, const GridSpec& target,
                 std::vector<T>& values, std::vector<std::uint8_t>& noData) {
    const auto n = static_cast<std::size_t>(target.cellCount());
    values.assign(n, T{});
    noData.assign(n, 1);
    const std::int64_t c0 = std::max(from.westCells, target.westCells);
    const std::int64_t c1 = std::min(from.westCells + from.cols, target.westCells + target.cols);
    const std::int64_t nTop =
        std::min(from.southCells + from.rows, target.southCells + target.rows);
    const std::int64_t nBottom = std::max(from.southCells, target.southCells);
    if (c1 <= c0 || nTop <= nBottom) {
        return true;
    }
    const auto width = static_cast<int>(c1 - c0);
    const auto height = static_cast<int>(nTop - nBottom);
    const auto srcX = static_cast<int>(c0 - from.westCells);
    const auto srcY = static_cast<int>(from.southCells + from.rows - nTop);
    const auto dstCol = static_cast<std::size_t>(c0 - target.westCells);
    const auto dstRow = static_cast<std::size_t>(target.southCells + target.rows - nTop);
    GDALRasterBand* band = ds.GetRasterBand(1);
    int hasNoData = 0;
    const double noDataValue = band->GetNoDataValue(&hasNoData);
    const GDALDataType type = std::is_same_v<T, float> ? GDT_Float32 : GDT_Int32;
    const auto stride = static_cast<std::size_t>(target.cols);
    T* first = values.data() + dstRow * stride + dstCol;
    if (band->RasterIO(GF_Read, srcX, srcY, width, height, first, width, height, type,
                       static_cast<GSpacing>(sizeof(T)),
                       static_cast<GSpacing>(sizeof(T)) * static_cast<GSpacing>(stride), nullptr)
        != CE_None) {
        return false;
    }
    // The no-data value as the buffer type holds it.
    const bool noDataFits = hasNoData != 0 && std::isfinite(noDataValue);
    const T noDataAsT = noDataFits ? static_cast<T>(noDataValue) : T{};
#pragma omp parallel for schedule(static)
    for (int r = 0; r < height; ++r) {
        for (std::size_t c = 0; c < static_cast<std::size_t>(width); ++c) {
            const std::size_t i = (dstRow + static_cast<std::size_t>(r)) * stride + dstCol + c;
            bool missing = noDataFits && values[i] == noDataAsT;
            if constexpr (std::is_same_v<T, float>) {
                missing = missing || !std::isfinite(values[i])
                          || (hasNoData != 0 && std::isnan(noDataValue) && std::isnan(values[i]));
            }
            noData[i] = missing ? 1 : 0;
        }
    }
    return true;
}

/// West, south, east, north of the source's footprint in WGS 84, taken inward: the box every
/// point of which lies inside the source.
std::optional<std::array<double, 4>> innerFootprint(GDALDataset& ds,
                                                    const OGRSpatialReference& srs) {
    std::array<double, 6> gt{};
    ds.GetGeoTransform(gt.data());
    OGRSpatialReference from(srs);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    OGRSpatialReference to;
    to.SetWellKnownGeogCS("WGS84");
    to.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation, TransformDeleter> ct(
        OGRCreateCoordinateTransformation(&from, &to));
    if (!ct) {
        return std::nullopt;
    }
    const double cols = ds.GetRasterXSize();
    const double rows = ds.GetRasterYSize();
    constexpr int kSteps = 64;
    double west = -std::numeric_limits<double>::infinity();
    double east = std::numeric_limits<double>::infinity();
    double south = -std::numeric_limits<double>::infinity();
    double north = std::numeric_limits<double>::infinity();
    for (int k = 0; k <= kSteps; ++k) {
        const double t = static_cast<double>(k) / kSteps;
        // Points along the four edges, in pixel coordinates.
        const std::array<std::array<double, 2>, 4> px{
            {{0.0, t * rows}, {cols, t * rows}, {t * cols, rows}, {t * cols, 0.0}}};
        for (std::size_t e = 0; e < 4; ++e) {
            double x = gt[0] + px[e][0] * gt[1] + px[e][1] * gt[2];
            double y = gt[3] + px[e][0] * gt[4] + px[e][1] * gt[5];
            if (ct->Transform(1, &x, &y) == 0) {
                return std::nullopt;
            }
            if (e == 0) {
                west = std::max(west, x);
            } else if (e == 1) {
                east = std::min(east, x);
            } else if (e == 2) {
                south = std::max(south, y);
            } else {
                north = std::min(north, y);
            }
        }
    }
    return std::array<double, 4>{west, south, east, north};
}

struct WarpProgress {
    std::ostream* out;
    int tenths;
};

int CPL_STDCALL reportWarp(double done, const char* /*message*/, void* data) {
    auto* p = static_cast<WarpProgress*>(data);
    const int tenths = static_cast<int>(done * 10.0);
    if (tenths > p->tenths) {
        p->tenths = tenths;
        *p->out << "warping the DEM: " << tenths * 10 << " %" << std::endl;
    }
    return 1;
}

Result<GridSpec> gridOfBox(const std::array<double, 4>& box, const std::string& what) {
    auto gridSpec = gridInside(box[0], box[1], box[2], box[3]);
    if (!gridSpec) {
        std::ostringstream line;
        line << what << " (" << box[0] << " " << box[1] << " " << box[2] << " " << box[3]
             << ") holds no whole 30-arc-second cell.";
        return Error{line.str()};
    }
    return *gridSpec;
}

/// The grid when it can make a case; otherwise the line naming `what` chose it.
Result<GridSpec> fitGrid(const GridSpec& gridSpec, const std::string& what) {
    if (const auto why = gridUnfit(gridSpec, physicalMemoryBytes())) {
        return Error{what + ": " + *why};
    }
    return gridSpec;
}

/// The CRS of the DEM: the one the request names, else the DEM's own.
Result<OGRSpatialReference> demCrs(const DemRequest& request, GDALDataset& ds) {
    const std::string name = request.path.string();
    std::array<double, 6> gt{};
    if (ds.GetGeoTransform(gt.data()) != CE_None) {
        return Error{name
                     + " has no georeferencing (no geotransform); make_case needs to know "
                       "where its cells lie."};
    }
    OGRSpatialReference srs;
    if (request.crs) {
        if (srs.SetFromUserInput(request.crs->c_str()) != OGRERR_NONE) {
            return Error{"--dem-crs " + quoteToken(*request.crs)
                         + " names no coordinate reference system GDAL knows."};
        }
    } else if (ds.GetSpatialRef() == nullptr || ds.GetSpatialRef()->IsEmpty()) {
        return Error{name
                     + " has no coordinate reference system; name it with --dem-crs, for "
                       "example --dem-crs EPSG:32611 (WGS 84 / UTM zone 11N)."};
    } else {
        srs = *ds.GetSpatialRef();
    }
    return srs;
}

/// The grid to put the DEM on: `onGrid`, else the box's, else the DEM's own (`own`, when it
/// lies on the 30" grid), else its footprint's.
Result<GridSpec> demTarget(const DemRequest& request, const std::optional<GridSpec>& onGrid,
                           const std::optional<GridSpec>& own, GDALDataset& ds,
                           const OGRSpatialReference& srs) {
    if (onGrid) {
        return *onGrid;
    }
    if (request.bbox) {
        return gridOfBox(*request.bbox, "--bbox");
    }
    if (own) {
        return *own;
    }
    const std::string name = request.path.string();
    const auto box = innerFootprint(ds, srs);
    if (!box) {
        return Error{name + ": its extent cannot be transformed to WGS 84."};
    }
    return gridOfBox(*box, name + "'s extent");
}

/// The DEM averaged onto `target` in memory; each tenth done is reported on `progress` when
/// that is given.
Result<Dataset> warpDem(const DemRequest& request, GDALDataset& ds, const GridSpec& target,
                        std::ostream* progress) {
    std::vector<std::string> args{
        "-of", "MEM", "-t_srs", "EPSG:4326", "-te", num(target.westDeg()), num(target.southDeg()),
        num(target.eastDeg()), num(target.northDeg()), "-ts", std::to_string(target.cols),
        std::to_string(target.rows), "-r", "average", "-ot", "Float32", "-dstnodata", "nan",
        // Every core warps its own part of the grid; a cell's value
        // depends on nothing but its own source window.
        "-multi", "-wo", "NUM_THREADS=ALL_CPUS"};
    if (request.crs) {
        args.insert(args.end(), {"-s_srs", *request.crs});
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(argv.data(), nullptr);
    WarpProgress report{progress, 0};
    if (progress != nullptr) {
        GDALWarpAppOptionsSetProgress(options, reportWarp, &report);
    }
    GDALDatasetH source = GDALDataset::ToHandle(&ds);
    int usageError = 0;
    CPLPushErrorHandler(CPLQuietErrorHandler);
    Dataset warped(
        GDALDataset::FromHandle(GDALWarp("", nullptr, 1, &source, options, &usageError)));
    CPLPopErrorHandler();
    GDALWarpAppOptionsFree(options);
    if (!warped) {
        return Error{request.path.string() + " cannot be warped onto the 30-arc-second grid: \""
                     + quoteToken(CPLGetLastErrorMsg()) + "\"."};
    }
    return {std::move(warped)};
}

}  // namespace

Result<Terrain> loadDem(const DemRequest& request, const std::optional<GridSpec>& onGrid,
                        std::ostream* progress, std::int64_t progressCells) {
    const std::string name = request.path.string();
    auto ds = openRaster(request.path);
    if (!ds) {
        return ds.error();
    }
    const auto srs = demCrs(request, **ds);
    if (!srs) {
        return srs.error();
    }
    const std::optional<GridSpec> own = sourceGrid(**ds, &*srs);
    auto target = demTarget(request, onGrid, own, **ds, *srs);
    if (target) {
        target = fitGrid(*target, request.bbox && !onGrid ? "--bbox" : name);
    }
    if (!target) {
        return target.error();
    }
    Terrain terrain;
    terrain.gridSpec = *target;
    if (own) {
        // Already on the grid: the values pass through unchanged.
        if (!readOverlap(**ds, *own, *target, terrain.elevation, terrain.outside)) {
            return Error{name + " cannot be read."};
        }
    } else {
        const bool report = progress != nullptr && target->cellCount() > progressCells;
        const auto warped = warpDem(request, **ds, *target, report ? progress : nullptr);
        if (!warped) {
            return warped.error();
        }
        if (!readOverlap(**warped, *target, *target, terrain.elevation, terrain.outside)) {
            return Error{name + " cannot be read."};
        }
    }
    const auto n = static_cast<std::int64_t>(terrain.elevation.size());
#pragma omp parallel for schedule(static)
    for (std::int64_t i = 0; i < n; ++i) {
        if (terrain.outside[static_cast<std::size_t>(i)] != 0) {
            terrain.elevation[static_cast<std::size_t>(i)] =
                std::numeric_limits<float>::quiet_NaN();
        }
    }
    return terrain;
}

Result<IntegerRaster> loadGridRaster(const std::filesystem::path& path,
                                     const std::optional<std::array<double, 4>>& bbox,
                                     const std::optional<GridSpec>& onGrid) {
    const std::string name = path.string();
    auto ds = openRaster(path);
    if (!ds) {
        return ds.error();
    }
    const std::optional<GridSpec> own = sourceGrid(**ds, (*ds)->GetSpatialRef());
    if (!own) {
        return Error{name
                     + " is not on a 30-arc-second WGS 84 grid (cells of 1/120 degree, "
                       "edges on multiples of 30\"); flow directions cannot be resampled, so "
                       "give a raster on that grid or leave --flow-dir out."};
    }
    IntegerRaster raster;
    raster.gridSpec = *own;
    if (onGrid) {
        raster.gridSpec = *onGrid;
    } else if (bbox) {
        const auto box = gridOfBox(*bbox, "--bbox");
        if (!box) {
            return box.error();
        }
        raster.gridSpec = *box;
    }
    if (const auto fits = fitGrid(raster.gridSpec, bbox && !onGrid ? "--bbox" : name); !fits) {
        return fits.error();
    }
    if (!readOverlap(**ds, *own, raster.gridSpec, raster.values, raster.noData)) {
        return Error{name + " cannot be read."};
    }
    return raster;
}

}  // namespace hydro::make_case
