#include "results/grid_netcdf.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <thread>

#include "case/discharge_grid.h"
#include "common/file_transaction.h"
#include "results/chunk_codec.h"
#include "results/discharge_value.h"
#include "results/event_time.h"
#include "results/grid_vrt.h"
#include "results/hdf5_chunks.h"
#include "results/run_record.h"
#include "results/significant_digits.h"

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
    ids.crs = defineCrs(nc);
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
    if (!p.channelWidth.isModel()) {
        nc.number(kGlobalAttr, "channel_width_coefficient_m", p.channelWidth.coefficient);
        nc.number(kGlobalAttr, "channel_width_exponent", p.channelWidth.exponent);
        nc.text(kGlobalAttr, "channel_width_law", channelWidthText(p.channelWidth));
    }
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

/// The chunks of the two 3-D variable kinds: hours, and days.
struct Chunking {
    ChunkGrid hours;
    ChunkGrid days;
};

Chunking chunkingOf(const GridNetcdfJob& job) {
    const auto& p = job.params;
    const auto rows = static_cast<std::size_t>(p.studyRows);
    const auto cols = static_cast<std::size_t>(p.studyCols);
    const auto days = static_cast<std::size_t>(p.days);
    return {chunkGridOf(job.chunks, days * 24U, rows, cols),
            chunkGridOf(job.chunks, days, rows, cols)};
}

/// Chunking and deflation of a discharge variable over frames.
void storeFrames(NetcdfFile& nc, int var, const ChunkGrid& g, int level) {
    nc.compress(var, {g.chunk[0], g.chunk[1], g.chunk[2]}, level);
}

Layout defineLayout(NetcdfFile& nc, const GridNetcdfJob& job) {
    const auto& p = job.params;
    const auto rows = static_cast<std::size_t>(p.studyRows);
    const auto cols = static_cast<std::size_t>(p.studyCols);
    const auto hours = static_cast<std::size_t>(p.days) * 24U;
    const std::string units = hoursSinceUnits(job.start);
    const Chunking chunking = chunkingOf(job);
    const int level = job.format == StoreFormat::kZarr ? 0 : job.deflateLevel;
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
    storeFrames(nc, l.hourly, chunking.hours, level);
    l.dailyMean = nc.defineVariable("discharge_daily_mean", Type::kFloat, {dDim, latDim, lonDim});
    dischargeAttributes(nc, l.dailyMean, "daily mean discharge (mean of the 24 hourly means)",
                        "day: mean");
    storeFrames(nc, l.dailyMean, chunking.days, level);
    l.dailyMax = nc.defineVariable("discharge_daily_max", Type::kFloat, {dDim, latDim, lonDim});
    dischargeAttributes(nc, l.dailyMax, "largest hourly mean discharge of the day", "day: maximum");
    storeFrames(nc, l.dailyMax, chunking.days, level);
    l.eventMax = nc.defineVariable("discharge_event_max", Type::kFloat, {latDim, lonDim});
    dischargeAttributes(nc, l.eventMax, "largest hourly mean discharge of the event",
                        "time: maximum");
    nc.compress(l.eventMax, {rows, cols}, level);
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
    nc.compress(l.timeOfPeak, {rows, cols}, level);

    constexpr int kGlobalAttr = NetcdfFile::kGlobal;
    nc.text(kGlobalAttr, "Conventions", "CF-1.8");
    nc.text(kGlobalAttr, "title", "Simulated river discharge of a rainfall event");
    nc.text(kGlobalAttr, "source", sourceText("discharge_netcdf"));
    nc.text(kGlobalAttr, "history", job.history);
    if (job.comment) {
        nc.text(kGlobalAttr, "comment", *job.comment);
    }
    nc.text(kGlobalAttr, "event_start", isoHourEnd(job.start, 0));
    putEventParameterAttributes(nc, p);
    putSchemeAttributes(nc, job.scheme);
    if (job.significantDigits) {
        // Last of the definitions, after every attribute.
        for (const int var : {l.hourly, l.dailyMean, l.dailyMax, l.eventMax}) {
            nc.quantize(var, *job.significantDigits);
        }
    }
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

/// One discharge variable over frames and the grid it comes from.
struct FrameVariable {
    DischargeGrid* grid = nullptr;
    const char* fileName = "";
    const char* frameUnit = "";
    const char* name = "";
    int var = -1;
    ChunkGrid chunks;
    bool hourly = false;  ///< the hours, whose event maxima are taken
};

/// The first value in file order that is not finite, as the error that names it; the grid is
/// known to hold one.
Status firstFault(const FrameVariable& v) {
    std::vector<float> frame(static_cast<std::size_t>(v.grid->shape().cellCount()));
    for (std::size_t f = 0; f < v.chunks.extent[0]; ++f) {
        if (auto read = readFiniteFrame(*v.grid, v.fileName, v.frameUnit, f, frame); !read) {
            return read;
        }
    }
    return Error{std::string(v.fileName) + " changed while it was read."};
}

/// The event's largest hourly mean at every cell and the end of its first hour.
struct Peaks {
    std::vector<float> eventMax;
    std::vector<std::int32_t> peakTime;  ///< hours from 1, as stored

    explicit Peaks(std::size_t cells)
        : eventMax(cells, kNoData), peakTime(cells, static_cast<std::int32_t>(kNoData)) {}

    /// Takes in the hours of `block`, whose values are `values` as readBlock leaves them.
    void update(std::span<const float> values, const Block& block, std::size_t cols) {
        std::size_t at = 0;
        for (std::size_t t = 0; t < block.count[0]; ++t) {
            const std::size_t f = block.start[0] + t;
            for (std::size_t r = 0; r < block.count[1]; ++r) {
                std::size_t i = (block.start[1] + r) * cols + block.start[2];
                for (std::size_t k = 0; k < block.count[2]; ++k, ++i, ++at) {
                    const float v = values[at];
                    // No-data cells are no-data in every frame; the first largest value wins.
                    if (v == kNoData) {
                        continue;
                    }
                    if (f == 0 || v > eventMax[i]) {
                        eventMax[i] = v;
                        peakTime[i] = static_cast<std::int32_t>(f + 1);
                    }
                }
            }
        }
    }
};

/// Progress lines for the hours, only where the wait is noticeable: from about 80 MB of
/// hourly grid.
class Progress {
public:
    Progress(const GridNetcdfJob& job, const ChunkGrid& hours)
        : total_(hours.count()),
          step_(total_ >= 10 ? total_ / 10 : 1),
          unit_(hours.chunk[0] == 1 ? "hour" : "tile") {
        constexpr std::size_t kProgressValues = 20'000'000;
        const std::size_t values = hours.extent[0] * hours.extent[1] * hours.extent[2];
        out_ = values >= kProgressValues ? job.progress : nullptr;
    }
    /// Chunks done before and after the last batch.
    void done(std::size_t before, std::size_t after) const {
        if (out_ != nullptr && after / step_ != before / step_) {
            *out_ << "discharge_netcdf: " << unit_ << " " << after << " of " << total_ << std::endl;
        }
    }

private:
    std::ostream* out_ = nullptr;
    std::size_t total_ = 0;
    std::size_t step_ = 1;
    const char* unit_ = "hour";
};

/// Writes every chunk of `v` through the library, one after the other. A failure of the
/// library stops the chunks and is left for `close` to report.
Status putThroughLibrary(NetcdfFile& nc, const FrameVariable& v, Peaks* peaks,
                         const Progress* progress) {
    std::vector<float> values(v.chunks.chunkValues());
    const std::size_t cols = v.chunks.extent[2];
    for (std::size_t k = 0; k < v.chunks.count(); ++k) {
        const Block b = blockOf(v.chunks, k);
        bool finite = true;
        if (auto read = readBlock(*v.grid, b, values, finite); !read) {
            return read;
        }
        if (!finite) {
            return firstFault(v);
        }
        if (peaks != nullptr) {
            peaks->update(values, b, cols);
        }
        nc.put(v.var, b.start, b.count, values.data());
        if (nc.failed()) {
            return success();
        }
        if (progress != nullptr) {
            progress->done(k, k + 1);
        }
    }
    return success();
}

/// One chunk being made: its values, then its deflated bytes (`packed`, `packedBytes` long),
/// and its shuffled bytes.
struct ChunkSlot {
    std::vector<float> packed;
    std::vector<std::byte> shuffled;
    std::size_t packedBytes = 0;
    Block block;
};

/// Rounds the chunk in `slot` to `digits` significant digits when given, then shuffles and
/// deflates it; packedBytes stays 0 when zlib fails.
void packSlot(ChunkSlot& slot, const ChunkGrid& g, int level, std::optional<int> digits) {
    if (digits) {
        roundToSignificantDigits(std::span(slot.packed).first(slot.block.values()), *digits,
                                 kNoData);
    }
    shuffleChunk(slot.packed, slot.block, g, kNoData, slot.shuffled);
    const auto bytes =
        deflateChunk(slot.shuffled, level, std::as_writable_bytes(std::span(slot.packed)));
    slot.packedBytes = bytes.value_or(0);
}

/// Writes every chunk of `v` into `h5`, deflated on every core (and rounded to `digits`
/// significant digits when given): a batch of one chunk per thread is read, then packed in
/// parallel, then stored in order.
Status putInParallel(Hdf5ChunkFile& h5, const FrameVariable& v, Peaks* peaks, int level,
                     std::optional<int> digits, const Progress* progress) {
    const int set = h5.dataset(v.name);
    const std::size_t chunkBytes = v.chunks.chunkValues() * sizeof(float);
    const std::size_t packedValues = std::max(
        v.chunks.chunkValues(), (deflateBound(chunkBytes) + sizeof(float) - 1) / sizeof(float));
    std::vector<ChunkSlot> slots(static_cast<std::size_t>(std::max(1, omp_get_max_threads())));
    for (ChunkSlot& slot : slots) {
        slot.packed.resize(packedValues);
        slot.shuffled.resize(chunkBytes);
    }
    const std::size_t count = v.chunks.count();
    const std::size_t cols = v.chunks.extent[2];
    for (std::size_t first = 0; first < count && !h5.failed(); first += slots.size()) {
        const std::size_t n = std::min(slots.size(), count - first);
        for (std::size_t s = 0; s < n; ++s) {
            ChunkSlot& slot = slots[s];
            slot.block = blockOf(v.chunks, first + s);
            bool finite = true;
            if (auto read = readBlock(*v.grid, slot.block, slot.packed, finite); !read) {
                return read;
            }
            if (!finite) {
                return firstFault(v);
            }
            if (peaks != nullptr) {
                peaks->update(slot.packed, slot.block, cols);
            }
        }
#pragma omp parallel for schedule(dynamic, 1)
        for (std::size_t s = 0; s < n; ++s) {
            packSlot(slots[s], v.chunks, level, digits);
        }
        for (std::size_t s = 0; s < n; ++s) {
            const ChunkSlot& slot = slots[s];
            if (slot.packedBytes == 0) {
                return Error{"zlib cannot deflate a chunk of " + std::string(v.name) + "."};
            }
            const std::array<std::uint64_t, 3> at{slot.block.start[0], slot.block.start[1],
                                                  slot.block.start[2]};
            h5.writeChunk(set, at, std::as_bytes(std::span(slot.packed)).first(slot.packedBytes));
        }
        if (progress != nullptr) {
            progress->done(first, first + n);
        }
    }
    return success();
}

/// `values`, the whole of a 2-D variable in one chunk, shuffled and deflated; empty when
/// zlib fails.
template <class T>
std::vector<std::byte> packWhole(const std::vector<T>& values, int level) {
    const auto bytes = std::as_bytes(std::span(values));
    std::vector<std::byte> shuffled(bytes.size());
    shuffleBytes(bytes, sizeof(T), shuffled);
    std::vector<std::byte> packed(deflateBound(bytes.size()));
    packed.resize(deflateChunk(shuffled, level, packed).value_or(0));
    return packed;
}

/// The discharge variables over frames, in the order they are written.
std::array<FrameVariable, 3> frameVariables(const Layout& l, Grids& g, const GridNetcdfJob& job) {
    const Chunking chunking = chunkingOf(job);
    return {FrameVariable{&g.hourly, "dischargeHourly.bin", "hour", "discharge", l.hourly,
                          chunking.hours, true},
            FrameVariable{&g.dailyMean, "dischargeDaily.bin", "day", "discharge_daily_mean",
                          l.dailyMean, chunking.days, false},
            FrameVariable{&g.dailyMax, "dischargeHourlyMaxInDay.bin", "day", "discharge_daily_max",
                          l.dailyMax, chunking.days, false}};
}

/// Writes every frame and the event maxima through the library.
Status writeThroughLibrary(NetcdfFile& nc, const Layout& l, Grids& g, const GridNetcdfJob& job) {
    const auto cells = static_cast<std::size_t>(job.params.studyRows)
                       * static_cast<std::size_t>(job.params.studyCols);
    Peaks peaks(cells);
    for (const FrameVariable& v : frameVariables(l, g, job)) {
        const Progress progress(job, v.chunks);
        if (auto put = putThroughLibrary(nc, v, v.hourly ? &peaks : nullptr,
                                         v.hourly ? &progress : nullptr);
            !put || nc.failed()) {
            return put;
        }
    }
    const auto rows = static_cast<std::size_t>(job.params.studyRows);
    const auto cols = static_cast<std::size_t>(job.params.studyCols);
    nc.put(l.eventMax, {0, 0}, {rows, cols}, peaks.eventMax.data());
    nc.put(l.timeOfPeak, {0, 0}, {rows, cols}, peaks.peakTime.data());
    return success();
}

/// Writes every frame and the event maxima as finished chunks into the closed file `path`.
Status writeInParallel(const std::filesystem::path& path, const Layout& l, Grids& g,
                       const GridNetcdfJob& job) {
    const std::string name = job.target.filename().string();
    Hdf5ChunkFile h5;
    h5.open(path);
    const auto cells = static_cast<std::size_t>(job.params.studyRows)
                       * static_cast<std::size_t>(job.params.studyCols);
    Peaks peaks(cells);
    for (const FrameVariable& v : frameVariables(l, g, job)) {
        const Progress progress(job, v.chunks);
        if (auto put = putInParallel(h5, v, v.hourly ? &peaks : nullptr, job.deflateLevel,
                                     job.significantDigits, v.hourly ? &progress : nullptr);
            !put) {
            return put;
        }
    }
    if (job.significantDigits) {
        roundToSignificantDigits(peaks.eventMax, *job.significantDigits, kNoData);
    }
    std::array<std::vector<std::byte>, 2> packed;
#pragma omp parallel sections
    {
#pragma omp section
        packed[0] = packWhole(peaks.eventMax, job.deflateLevel);
#pragma omp section
        packed[1] = packWhole(peaks.peakTime, job.deflateLevel);
    }
    const std::array<const char*, 2> names{"discharge_event_max", "time_of_peak"};
    for (std::size_t k = 0; k < 2; ++k) {
        if (packed[k].empty()) {
            return Error{"zlib cannot deflate a chunk of " + std::string(names[k]) + "."};
        }
        const std::array<std::uint64_t, 2> origin{0, 0};
        h5.writeChunk(h5.dataset(names[k]), origin, packed[k]);
    }
    if (!h5.close()) {
        return Error{name + " cannot be written (" + h5.error() + ")."};
    }
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

bool parallelPath(const GridNetcdfJob& job) {
    return job.parallelChunks && job.format == StoreFormat::kNetcdf && job.deflateLevel > 0;
}

/// Writes the whole file or store at `path`.
Status writeFile(const std::filesystem::path& path, const GridNetcdfJob& job, Grids& grids) {
    const std::string name = job.target.filename().string();
    const bool zarr = job.format == StoreFormat::kZarr;
    NetcdfFile nc;
    // The library (4.9.0) cannot leave define mode with quantized variables in the classic
    // model.
    const bool classic = !job.significantDigits;
    if (!(zarr ? nc.createZarr(path, classic) : nc.create(path, classic))) {
        return Error{name + " cannot be created (" + nc.error() + ")."};
    }
    const Layout layout = defineLayout(nc, job);
    writeAxes(nc, layout, job.params);
    if (parallelPath(job)) {
        if (!nc.close()) {
            return Error{name + " cannot be written (" + nc.error() + ")."};
        }
        return writeInParallel(path, layout, grids, job);
    }
    Status written = writeThroughLibrary(nc, layout, grids, job);
    if (!nc.close() && written) {
        return Error{name + " cannot be written (" + nc.error() + ")."};
    }
    return written;
}

/// The library stores the scalar `crs` as an array of one value with no dimension names, which
/// Zarr readers refuse; its metadata is rewritten as the Zarr scalar it is (which the library
/// reads as before).
Status markScalar(const std::filesystem::path& store, const std::string& name,
                  const std::string& variable) {
    const std::filesystem::path meta = store / variable / ".zarray";
    std::ifstream in(meta, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool read = static_cast<bool>(in) || in.eof();
    in.close();
    for (const char* key : {"\"shape\": [1]", "\"chunks\": [1]"}) {
        const std::size_t at = text.find(key);
        if (!read || at == std::string::npos) {
            std::string message = name;
            message += " cannot be written (the library stored ";
            message += variable;
            message += " in an unexpected form).";
            return Error{message};
        }
        text.replace(at + std::string(key).size() - 2, 1, "");
    }
    std::ofstream out(meta, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        return Error{name + " cannot be written (" + variable + "/.zarray)."};
    }
    return success();
}

/// Writes a Zarr store under a temporary name and renames it into place, replacing an earlier
/// store only.
Status writeZarr(const GridNetcdfJob& job, Grids& grids) {
    namespace fs = std::filesystem;
    const std::string name = job.target.filename().string();
    std::error_code ec;
    if (fs::exists(job.target, ec) && !fs::exists(job.target / ".zgroup", ec)) {
        return Error{name + " is not a Zarr store, so it is not replaced."};
    }
    const fs::path temp = temporaryPathOf(job.target);
    fs::remove_all(temp, ec);
    Status written = writeFile(temp, job, grids);
    if (written) {
        written = markScalar(temp, name, "crs");
    }
    if (!written) {
        fs::remove_all(temp, ec);
        return written;
    }
    // An earlier store steps aside first and is removed only once the new one is in place.
    fs::path old;
    if (fs::exists(job.target, ec)) {
        old = temp;
        old += ".old";
        fs::remove_all(old, ec);
        if (fs::rename(job.target, old, ec); ec) {
            fs::remove_all(temp, ec);
            return Error{name + " cannot be replaced (" + ec.message() + ")."};
        }
    }
    if (fs::rename(temp, job.target, ec); ec) {
        const std::string reason = ec.message();
        if (!old.empty()) {
            fs::rename(old, job.target, ec);
        }
        fs::remove_all(temp, ec);
        return Error{name + " cannot be put in place (" + reason + ")."};
    }
    if (!old.empty()) {
        fs::remove_all(old, ec);
    }
    return success();
}

/// Starts OpenMP's thread team for the parallel chunks. The runtime ends the process when it
/// cannot create a thread, with a file half-written if that happens mid-way; so the same
/// number of threads is first made and joined here, where a failure is a value, and the team
/// then made at once, before any file is touched.
Status startThreadTeam() {
    const int threads = std::max(omp_get_max_threads(), 1);
    std::vector<std::thread> probe;
    probe.reserve(static_cast<std::size_t>(threads));
    bool made = true;
    try {
        for (int k = 1; k < threads; ++k) {
            probe.emplace_back([] {});
        }
    } catch (const std::system_error&) {
        made = false;
    }
    for (std::thread& t : probe) {
        t.join();
    }
    if (!made) {
        return Error{"Not enough memory for this run."};
    }
    int team = 0;
#pragma omp parallel default(none) shared(team)
    {
#pragma omp single
        team = omp_get_num_threads();
    }
    static_cast<void>(team);
    return success();
}

}  // namespace

Status writeGridNetcdf(const GridNetcdfJob& job) {
    if (parallelPath(job)) {
        if (Status team = startThreadTeam(); !team) {
            return team;
        }
    }
    Grids grids;
    if (auto opened = openGrids(job, grids); !opened) {
        return opened;
    }
    if (job.format == StoreFormat::kZarr) {
        return writeZarr(job, grids);
    }
    FileTransaction files;
    if (auto written = writeFile(files.add(job.target), job, grids); !written) {
        return written;
    }
    return files.commit();
}

}  // namespace hydro::results
