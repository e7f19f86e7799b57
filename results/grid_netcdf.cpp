#include "results/grid_netcdf.h"

#include <array>
#include <cstdint>

#include "case/discharge_grid.h"
#include "common/file_transaction.h"
#include "results/discharge_value.h"
#include "results/event_time.h"
#include "results/grid_vrt.h"
#include "results/run_record.h"

#ifndef HYDRO_VERSION
#define HYDRO_VERSION "unknown"
#endif

namespace hydro::results {

const char* const kWgs84Wkt =
    R"(GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563,)"
    R"(AUTHORITY["EPSG","7030"]],AUTHORITY["EPSG","6326"]],PRIMEM["Greenwich",0,)"
    R"(AUTHORITY["EPSG","8901"]],UNIT["degree",0.0174532925199433,AUTHORITY["EPSG","9122"]],)"
    R"(AXIS["Latitude",NORTH],AXIS["Longitude",EAST],AUTHORITY["EPSG","4326"]])";

std::vector<double> cellCentres(float edgeDeg, std::int32_t count) {
    std::vector<double> centres(static_cast<std::size_t>(count));
    for (std::int32_t k = 0; k < count; ++k) {
        centres[static_cast<std::size_t>(k)] =
            static_cast<double>(edgeDeg) + (k + 0.5) * kCellDegrees;
    }
    return centres;
}

LatLonIds defineLatLon(NetcdfFile& nc, int latDim, int lonDim) {
    LatLonIds ids;
    ids.lat = nc.defineVariable("lat", NetcdfFile::Type::kDouble, {latDim});
    nc.text(ids.lat, "standard_name", "latitude");
    nc.text(ids.lat, "long_name", "latitude of the cell centre");
    nc.text(ids.lat, "units", "degrees_north");
    nc.text(ids.lat, "axis", "Y");
    ids.lon = nc.defineVariable("lon", NetcdfFile::Type::kDouble, {lonDim});
    nc.text(ids.lon, "standard_name", "longitude");
    nc.text(ids.lon, "long_name", "longitude of the cell centre");
    nc.text(ids.lon, "units", "degrees_east");
    nc.text(ids.lon, "axis", "X");
    defineCrs(nc);
    return ids;
}

int defineCrs(NetcdfFile& nc) {
    const int crs = nc.defineVariable("crs", NetcdfFile::Type::kInt, {});
    nc.text(crs, "grid_mapping_name", "latitude_longitude");
    nc.number(crs, "longitude_of_prime_meridian", 0.0);
    nc.number(crs, "semi_major_axis", 6378137.0);
    nc.number(crs, "inverse_flattening", 298.257223563);
    nc.text(crs, "crs_wkt", kWgs84Wkt);
    // GDAL before 3.x and some other readers look for this name.
    nc.text(crs, "spatial_ref", kWgs84Wkt);
    return crs;
}

void putSchemeAttributes(NetcdfFile& nc, const std::optional<std::string>& scheme) {
    if (scheme) {
        nc.text(NetcdfFile::kGlobal, "scheme", *scheme);
        nc.text(NetcdfFile::kGlobal, "scheme_description", schemeDescription(*scheme));
    }
}

void putEventParameterAttributes(NetcdfFile& nc, const EventParameters& p) {
    constexpr int kGlobalAttr = NetcdfFile::kGlobal;
    nc.number(kGlobalAttr, "event_study_columns", p.studyCols);
    nc.number(kGlobalAttr, "event_study_rows", p.studyRows);
    nc.number(kGlobalAttr, "event_south_west_longitude_deg", p.swLon);
    nc.number(kGlobalAttr, "event_south_west_latitude_deg", p.swLat);
    nc.number(kGlobalAttr, "event_rain_columns", p.rainCols);
    nc.number(kGlobalAttr, "event_rain_rows", p.rainRows);
    nc.number(kGlobalAttr, "event_rain_spacing_longitude_deg", p.rainDx);
    nc.number(kGlobalAttr, "event_rain_spacing_latitude_deg", p.rainDy);
    nc.number(kGlobalAttr, "event_rain_first_longitude_deg", p.rainLon0);
    nc.number(kGlobalAttr, "event_rain_first_latitude_deg", p.rainLat0);
    nc.number(kGlobalAttr, "event_days", p.days);
    nc.number(kGlobalAttr, "event_time_step_s", p.timeStep);
    nc.number(kGlobalAttr, "event_space_steps_per_cell", p.spaceSteps);
    nc.number(kGlobalAttr, "event_weighting_factor", p.weight);
    nc.number(kGlobalAttr, "event_manning_slope", p.manningSlope);
    nc.number(kGlobalAttr, "event_manning_channel", p.manningChannel);
    nc.number(kGlobalAttr, "event_channel_flow_accumulation", p.channelArea);
    nc.number(kGlobalAttr, "event_initial_runoff_mm_per_hour", p.initialRunoff);
}

std::string sourceText(const std::string& program) {
    return program + " " + HYDRO_VERSION + " (hydro_runoff surface runoff suite)";
}

namespace {

using Type = NetcdfFile::Type;

struct Layout {
    int time = -1;
    int timeBounds = -1;
    int day = -1;
    int dayBounds = -1;
    int lat = -1;
    int lon = -1;
    int hourly = -1;
    int dailyMean = -1;
    int dailyMax = -1;
    int eventMax = -1;
    int timeOfPeak = -1;
};

/// Attributes shared by every discharge variable.
void dischargeAttributes(NetcdfFile& nc, int var, const std::string& longName,
                         const std::string& cellMethods) {
    nc.number(var, "_FillValue", kNoData);
    nc.text(var, "units", "m3 s-1");
    nc.text(var, "standard_name", "water_volume_transport_in_river_channel");
    nc.text(var, "long_name", longName);
    nc.text(var, "cell_methods", cellMethods);
    nc.text(var, "grid_mapping", "crs");
}

void timeAttributes(NetcdfFile& nc, int var, const std::string& units, const std::string& longName,
                    const std::string& bounds) {
    nc.text(var, "standard_name", "time");
    nc.text(var, "long_name", longName);
    nc.text(var, "units", units);
    nc.text(var, "calendar", "standard");
    nc.text(var, "axis", "T");
    nc.text(var, "bounds", bounds);
}

Layout defineLayout(NetcdfFile& nc, const GridNetcdfJob& job) {
    const auto& p = job.params;
    const auto rows = static_cast<std::size_t>(p.studyRows);
    const auto cols = static_cast<std::size_t>(p.studyCols);
    const auto hours = static_cast<std::size_t>(p.days) * 24U;
    const std::string units = hoursSinceUnits(job.start);
    const int tDim = nc.defineDimension("time", hours);
    const int dDim = nc.defineDimension("day", static_cast<std::size_t>(p.days));
    const int latDim = nc.defineDimension("lat", rows);
    const int lonDim = nc.defineDimension("lon", cols);
    const int nvDim = nc.defineDimension("nv", 2);

    Layout l;
    l.time = nc.defineVariable("time", Type::kDouble, {tDim});
    timeAttributes(nc, l.time, units, "end of the hour", "time_bnds");
    l.timeBounds = nc.defineVariable("time_bnds", Type::kDouble, {tDim, nvDim});
    l.day = nc.defineVariable("day", Type::kDouble, {dDim});
    timeAttributes(nc, l.day, units, "end of the day", "day_bnds");
    l.dayBounds = nc.defineVariable("day_bnds", Type::kDouble, {dDim, nvDim});

    const LatLonIds coordinates = defineLatLon(nc, latDim, lonDim);
    l.lat = coordinates.lat;
    l.lon = coordinates.lon;

    l.hourly = nc.defineVariable("discharge", Type::kFloat, {tDim, latDim, lonDim});
    dischargeAttributes(nc, l.hourly, "hourly mean discharge", "time: mean");
    nc.compress(l.hourly, {1, rows, cols}, job.deflateLevel);
    l.dailyMean = nc.defineVariable("discharge_daily_mean", Type::kFloat, {dDim, latDim, lonDim});
    dischargeAttributes(nc, l.dailyMean, "daily mean discharge (mean of the 24 hourly means)",
                        "day: mean");
    nc.compress(l.dailyMean, {1, rows, cols}, job.deflateLevel);
    l.dailyMax = nc.defineVariable("discharge_daily_max", Type::kFloat, {dDim, latDim, lonDim});
    dischargeAttributes(nc, l.dailyMax, "largest hourly mean discharge of the day", "day: maximum");
    nc.compress(l.dailyMax, {1, rows, cols}, job.deflateLevel);
    l.eventMax = nc.defineVariable("discharge_event_max", Type::kFloat, {latDim, lonDim});
    dischargeAttributes(nc, l.eventMax, "largest hourly mean discharge of the event",
                        "time: maximum");
    nc.compress(l.eventMax, {rows, cols}, job.deflateLevel);
    // Whole hours, stored as integers with an integer fill: a CF reader then decodes the cells
    // without a peak to "not a time" instead of casting a masked floating-point NaN to an
    // integer.
    l.timeOfPeak = nc.defineVariable("time_of_peak", Type::kInt, {latDim, lonDim});
    nc.number(l.timeOfPeak, "_FillValue", static_cast<std::int32_t>(kNoData));
    nc.text(l.timeOfPeak, "long_name",
            "end of the first hour with the event's largest hourly mean discharge");
    nc.text(l.timeOfPeak, "units", units);
    nc.text(l.timeOfPeak, "calendar", "standard");
    nc.text(l.timeOfPeak, "grid_mapping", "crs");
    nc.compress(l.timeOfPeak, {rows, cols}, job.deflateLevel);

    constexpr int kGlobalAttr = NetcdfFile::kGlobal;
    nc.text(kGlobalAttr, "Conventions", "CF-1.8");
    nc.text(kGlobalAttr, "title", "Simulated river discharge of a rainfall event");
    nc.text(kGlobalAttr, "source", sourceText("discharge_netcdf"));
    nc.text(kGlobalAttr, "history", job.history);
    nc.text(kGlobalAttr, "event_start", isoHourEnd(job.start, 0));
    putEventParameterAttributes(nc, p);
    putSchemeAttributes(nc, job.scheme);
    nc.endDefinitions();
    return l;
}

void writeAxes(NetcdfFile& nc, const Layout& l, const EventParameters& p) {
    const auto hours = static_cast<std::size_t>(p.days) * 24U;
    const auto days = static_cast<std::size_t>(p.days);
    std::vector<double> t(hours);
    std::vector<double> tb(hours * 2U);
    for (std::size_t h = 0; h < hours; ++h) {
        t[h] = static_cast<double>(h + 1);
        tb[2 * h] = static_cast<double>(h);
        tb[2 * h + 1] = static_cast<double>(h + 1);
    }
    nc.put(l.time, {0}, {hours}, t.data());
    nc.put(l.timeBounds, {0, 0}, {hours, 2}, tb.data());
    std::vector<double> d(days);
    std::vector<double> db(days * 2U);
    for (std::size_t k = 0; k < days; ++k) {
        d[k] = static_cast<double>(24 * (k + 1));
        db[2 * k] = static_cast<double>(24 * k);
        db[2 * k + 1] = static_cast<double>(24 * (k + 1));
    }
    nc.put(l.day, {0}, {days}, d.data());
    nc.put(l.dayBounds, {0, 0}, {days, 2}, db.data());
    const std::vector<double> lat = cellCentres(p.swLat, p.studyRows);
    const std::vector<double> lon = cellCentres(p.swLon, p.studyCols);
    nc.put(l.lat, {0}, {lat.size()}, lat.data());
    nc.put(l.lon, {0}, {lon.size()}, lon.data());
}

struct Grids {
    DischargeGrid hourly;
    DischargeGrid dailyMean;
    DischargeGrid dailyMax;
};

/// Reads frame `frame` of `grid` into `out`; a value that is not finite is an error naming the
/// file, the frame and the cell.
Status readFiniteFrame(DischargeGrid& grid, const char* fileName, const char* frameUnit,
                       std::size_t frame, std::span<float> out) {
    if (auto read = grid.readFrame(frame, out); !read) {
        return read;
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (auto fault = nonFiniteDischarge(fileName, frameUnit, grid.shape(), frame,
                                            static_cast<std::int64_t>(i), out[i])) {
            return *fault;
        }
    }
    return success();
}

/// Writes every frame and the event maxima. A failure of the NetCDF library stops the frames
/// and is left for `close` to report; a grid that cannot be read, or holds a value that is not
/// finite, is the error.
Status writeFrames(NetcdfFile& nc, const Layout& l, Grids& g, const GridNetcdfJob& job) {
    const auto& p = job.params;
    const auto rows = static_cast<std::size_t>(p.studyRows);
    const auto cols = static_cast<std::size_t>(p.studyCols);
    const std::size_t cells = rows * cols;
    const auto hours = static_cast<std::size_t>(p.days) * 24U;
    std::vector<float> frame(cells);
    std::vector<float> eventMax(cells, kNoData);
    std::vector<double> peakTime(cells, static_cast<double>(kNoData));
    // Progress only where the wait is noticeable: from about 80 MB of hourly grid.
    constexpr std::size_t kProgressValues = 20'000'000;
    const bool report = job.progress != nullptr && hours * cells >= kProgressValues;
    const std::size_t progressStep = hours >= 10 ? hours / 10 : 1;

    for (std::size_t f = 0; f < hours; ++f) {
        if (auto read = readFiniteFrame(g.hourly, "dischargeHourly.bin", "hour", f, frame); !read) {
            return read.error();
        }
        nc.put(l.hourly, {f, 0, 0}, {1, rows, cols}, frame.data());
        for (std::size_t i = 0; i < cells; ++i) {
            const float v = frame[i];
            // No-data cells are no-data in every frame; the first largest value wins.
            if (v == kNoData) {
                continue;
            }
            if (f == 0 || v > eventMax[i]) {
                eventMax[i] = v;
                peakTime[i] = static_cast<double>(f + 1);
            }
        }
        if (nc.failed()) {
            return success();
        }
        if (report && (f + 1) % progressStep == 0) {
            *job.progress << "discharge_netcdf: hour " << f + 1 << " of " << hours << std::endl;
        }
    }
    for (std::size_t d = 0; d < static_cast<std::size_t>(p.days); ++d) {
        if (auto read = readFiniteFrame(g.dailyMean, "dischargeDaily.bin", "day", d, frame);
            !read) {
            return read.error();
        }
        nc.put(l.dailyMean, {d, 0, 0}, {1, rows, cols}, frame.data());
        if (auto read = readFiniteFrame(g.dailyMax, "dischargeHourlyMaxInDay.bin", "day", d, frame);
            !read) {
            return read.error();
        }
        nc.put(l.dailyMax, {d, 0, 0}, {1, rows, cols}, frame.data());
    }
    nc.put(l.eventMax, {0, 0}, {rows, cols}, eventMax.data());
    nc.put(l.timeOfPeak, {0, 0}, {rows, cols}, peakTime.data());
    return success();
}

/// Opens the three grids of the simulator's output folder.
Status openGrids(const GridNetcdfJob& job, Grids& grids) {
    const auto& p = job.params;
    const GridShape shape{p.studyRows, p.studyCols};
    const auto days = static_cast<std::uint64_t>(p.days);
    if (auto open = grids.hourly.open(job.outputDir / "dischargeHourly.bin", shape, days * 24);
        !open) {
        return open;
    }
    if (auto open = grids.dailyMean.open(job.outputDir / "dischargeDaily.bin", shape, days);
        !open) {
        return open;
    }
    return grids.dailyMax.open(job.outputDir / "dischargeHourlyMaxInDay.bin", shape, days);
}

/// Writes the whole NetCDF file at `path`.
Status writeFile(const std::filesystem::path& path, const GridNetcdfJob& job, Grids& grids) {
    const std::string name = job.target.filename().string();
    NetcdfFile nc;
    if (!nc.create(path)) {
        return Error{name + " cannot be created (" + nc.error() + ")."};
    }
    const Layout layout = defineLayout(nc, job);
    writeAxes(nc, layout, job.params);
    Status written = writeFrames(nc, layout, grids, job);
    if (!nc.close() && written) {
        return Error{name + " cannot be written (" + nc.error() + ")."};
    }
    return written;
}

}  // namespace

Status writeGridNetcdf(const GridNetcdfJob& job) {
    Grids grids;
    if (auto opened = openGrids(job, grids); !opened) {
        return opened;
    }
    FileTransaction files;
    if (auto written = writeFile(files.add(job.target), job, grids); !written) {
        return written;
    }
    return files.commit();
}

}  // namespace hydro::results
