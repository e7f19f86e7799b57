// How the grids are stored: chunks deflated on every core against the library's own chunks
// (same values, same bytes), tiles of every hour x 64 x 64 cells with ragged edges, the first
// bad value in file order whatever the tile order, quantization within its bound and
// declared, the Zarr store read back by the NetCDF library and by xarray, and the options'
// one-line refusals.

#include <gtest/gtest.h>
#include <hdf5.h>
#include <netcdf.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "discharge_netcdf/app.h"
#include "results/chunk_codec.h"
#include "results/grid_netcdf.h"
#include "results/significant_digits.h"
#include "tests/discharge_netcdf/netcdf_case.h"
#include "tests/discharge_netcdf/netcdf_read.h"
#include "tests/support/test_support.h"

namespace hydro::results {
namespace {

namespace fs = std::filesystem;
using test::NcReader;

constexpr float kFill = -9999.0F;
// Wider and taller than two and one tiles: the last tiles reach past the grid.
constexpr std::int32_t kCols = 150;
constexpr std::int32_t kRows = 70;
constexpr std::int32_t kDays = 2;
constexpr std::size_t kCells = static_cast<std::size_t>(kCols) * kRows;

/// Grids like a basin's: one cell in ten without data, the rest with noisy low bits.
struct NoisyGrids {
    std::vector<float> hourly;
    std::vector<float> dailyMean;
    std::vector<float> dailyMax;
};

std::vector<float> noisyFrames(std::size_t frames, std::mt19937& random) {
    std::lognormal_distribution<float> discharge(0.0F, 2.0F);
    std::vector<float> v(frames * kCells);
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i] = (i % kCells) % 10 == 3 ? kFill : discharge(random);
    }
    return v;
}

NoisyGrids writeNoisyCase(const fs::path& dir) {
    test::writeCase(dir, kCols, kRows, kDays, "2021 3 14 6 30 0");
    std::mt19937 random(11);
    NoisyGrids g{noisyFrames(kDays * 24, random), noisyFrames(kDays, random),
                 noisyFrames(kDays, random)};
    test::writeFloats(dir / "output/dischargeHourly.bin", g.hourly);
    test::writeFloats(dir / "output/dischargeDaily.bin", g.dailyMean);
    test::writeFloats(dir / "output/dischargeHourlyMaxInDay.bin", g.dailyMax);
    return g;
}

GridNetcdfJob jobFor(const fs::path& dir, const fs::path& target) {
    GridNetcdfJob job;
    job.outputDir = dir / "output";
    job.target = target;
    job.params.studyCols = kCols;
    job.params.studyRows = kRows;
    job.params.days = kDays;
    job.params.swLon = -118.343F;
    job.params.swLat = 34.2314F;
    job.history = "test";
    return job;
}

struct Outcome {
    int status;
    std::string out;
};

Outcome runWith(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream progress;
    const int status = runDischargeNetcdf(args, out, progress);
    return {status, out.str()};
}

/// Every stored chunk of the variable `name` as HDF5 keeps it, in storage order.
std::vector<std::vector<unsigned char>> storedChunks(const fs::path& file, const char* name) {
    std::vector<std::vector<unsigned char>> chunks;
    const hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    const hid_t d = H5Dopen2(f, name, H5P_DEFAULT);
    const hid_t space = H5Dget_space(d);
    hsize_t count = 0;
    H5Dget_num_chunks(d, space, &count);
    for (hsize_t k = 0; k < count; ++k) {
        std::vector<hsize_t> offset(3);
        unsigned mask = 0;
        haddr_t address = 0;
        hsize_t size = 0;
        H5Dget_chunk_info(d, space, k, offset.data(), &mask, &address, &size);
        std::vector<unsigned char> bytes(size);
        std::uint32_t filters = 0;
        H5Dread_chunk(d, H5P_DEFAULT, offset.data(), &filters, bytes.data());
        chunks.push_back(bytes);
    }
    H5Sclose(space);
    H5Dclose(d);
    H5Fclose(f);
    return chunks;
}

std::vector<std::size_t> chunkLengths(const NcReader& nc, const char* name) {
    int storage = -1;
    std::vector<std::size_t> lengths(3);
    nc_inq_var_chunking(nc.id(), nc.var(name), &storage, lengths.data());
    return lengths;
}

constexpr std::array<const char*, 5> kDataVariables{"discharge", "discharge_daily_mean",
                                                    "discharge_daily_max", "discharge_event_max",
                                                    "time_of_peak"};

/// The bytes a stored chunk holds once inflated by zlib (still shuffled), or nothing.
std::vector<unsigned char> inflated(const std::vector<unsigned char>& chunk, std::size_t bytes) {
    std::vector<unsigned char> out(bytes);
    if (!inflateChunk(std::as_bytes(std::span(chunk)), std::as_writable_bytes(std::span(out)))) {
        return {};
    }
    return out;
}

// The chunks deflated (and rounded) on every core are standard zlib streams that zlib inflates
// to the very bytes the library's own chunks inflate to, at each level and with significant
// digits, and the file stays a NetCDF-4 file the library reads with its shuffle and deflate
// declared.
TEST(StoredLayouts, ParallelChunksHoldTheLibrarysBytes) {
    test::TempDir dir;
    const NoisyGrids g = writeNoisyCase(dir.path());
    const std::vector<std::pair<int, std::optional<int>>> settings{
        {1, std::nullopt}, {6, std::nullopt}, {1, 3}, {2, 5}};
    for (const auto& [level, digits] : settings) {
        const std::string tag = std::to_string(level) + "-" + std::to_string(digits.value_or(0));
        SCOPED_TRACE(tag);
        GridNetcdfJob job = jobFor(dir.path(), dir / ("parallel" + tag + ".nc"));
        job.deflateLevel = level;
        job.significantDigits = digits;
        ASSERT_TRUE(writeGridNetcdf(job));
        GridNetcdfJob reference = job;
        reference.target = dir / ("library" + tag + ".nc");
        reference.parallelChunks = false;
        ASSERT_TRUE(writeGridNetcdf(reference));

        for (const char* name : kDataVariables) {
            SCOPED_TRACE(name);
            const auto ours = storedChunks(job.target, name);
            EXPECT_EQ(ours.size(), std::string(name).starts_with("discharge_daily") ? 2U
                                   : std::string(name) == "discharge"               ? 48U
                                                                                    : 1U);
            const auto theirs = storedChunks(reference.target, name);
            ASSERT_EQ(ours.size(), theirs.size());
            for (std::size_t k = 0; k < ours.size(); ++k) {
                // Every chunk of these variables holds one frame of 4-byte values.
                const std::size_t bytes = kCells * 4;
                const auto a = inflated(ours[k], bytes);
                EXPECT_FALSE(a.empty()) << k;
                EXPECT_TRUE(a == inflated(theirs[k], bytes)) << k;
            }
        }
        const NcReader nc(job.target);
        ASSERT_TRUE(nc.ok());
        if (!digits) {
            EXPECT_EQ(nc.floats("discharge"), g.hourly);
            EXPECT_EQ(nc.floats("discharge_daily_max"), g.dailyMax);
        }
        int shuffle = -1;
        int deflate = -1;
        int stored = -1;
        nc_inq_var_deflate(nc.id(), nc.var("discharge"), &shuffle, &deflate, &stored);
        EXPECT_EQ(shuffle, 1);
        EXPECT_EQ(stored, level);
        std::size_t length = 0;
        EXPECT_EQ(nc_inq_attlen(nc.id(), NC_GLOBAL, "_NCProperties", &length), NC_NOERR);
        EXPECT_EQ(nc.text("discharge", "units"), "m3 s-1");
    }
}

// Tiles of every hour x 64 x 64 cells: both ways of writing them give every value, the event
// maxima included, with the tiles at the far edges cut to the grid.
TEST(StoredLayouts, TimeSeriesTilesKeepEveryValue) {
    test::TempDir dir;
    const NoisyGrids g = writeNoisyCase(dir.path());
    const fs::path frames = dir / "frames.nc";
    ASSERT_TRUE(writeGridNetcdf(jobFor(dir.path(), frames)));
    const NcReader byFrame(frames);
    for (const bool parallel : {true, false}) {
        SCOPED_TRACE(parallel);
        GridNetcdfJob job = jobFor(dir.path(), dir / (parallel ? "tiles.nc" : "tiles-lib.nc"));
        job.chunks = ChunkLayout::kTimeSeries;
        job.parallelChunks = parallel;
        ASSERT_TRUE(writeGridNetcdf(job));
        const NcReader nc(job.target);
        ASSERT_TRUE(nc.ok());
        EXPECT_EQ(chunkLengths(nc, "discharge"), (std::vector<std::size_t>{48, 64, 64}));
        EXPECT_EQ(chunkLengths(nc, "discharge_daily_mean"), (std::vector<std::size_t>{2, 64, 64}));
        EXPECT_EQ(nc.floats("discharge"), g.hourly);
        EXPECT_EQ(nc.floats("discharge_daily_mean"), g.dailyMean);
        EXPECT_EQ(nc.floats("discharge_daily_max"), g.dailyMax);
        EXPECT_EQ(nc.floats("discharge_event_max"), byFrame.floats("discharge_event_max"));
        EXPECT_EQ(nc.doubles("time_of_peak"), byFrame.doubles("time_of_peak"));
        if (parallel) {
            EXPECT_EQ(storedChunks(job.target, "discharge").size(), 6U);
        }
    }
}

// Two bad values, the later tile holding the earlier hour: the message names the first in
// file order, as with chunks of one frame, and nothing is left behind.
TEST(StoredLayouts, TheFirstBadValueInFileOrderWhateverTheTiles) {
    test::TempDir dir;
    NoisyGrids g = writeNoisyCase(dir.path());
    g.hourly[30 * kCells + 5] = INFINITY;           // hour 31, tile (0, 0)
    g.hourly[7 * kCells + 69 * kCols + 149] = NAN;  // hour 8, the last tile
    test::writeFloats(dir / "output/dischargeHourly.bin", g.hourly);
    for (const char* layout : {"frames", "time-series"}) {
        SCOPED_TRACE(layout);
        const Outcome o =
            runWith({dir.path().string(), (dir / "out.nc").string(), "--chunks", layout});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out,
                  "dischargeHourly.bin holds NaN in hour 8 at column 150, row 70: the run that "
                  "wrote it failed, or the file is damaged.\n");
        EXPECT_FALSE(fs::exists(dir / "out.nc"));
    }
}

// Quantized discharges stay within half a unit of their last kept digit, the fill value and
// the times stay exact, and the variables say how many digits they keep.
TEST(StoredLayouts, SignificantDigitsWithinTheirBoundAndDeclared) {
    test::TempDir dir;
    const NoisyGrids g = writeNoisyCase(dir.path());
    // 6 is the most the library rounds soundly: at 7 it shifts out of range and zeroes values.
    for (const int digits : {2, 4, 6}) {
        SCOPED_TRACE(digits);
        const fs::path target = dir / ("q" + std::to_string(digits) + ".nc");
        const Outcome o = runWith(
            {dir.path().string(), target.string(), "--significant-digits", std::to_string(digits)});
        ASSERT_EQ(o.status, 0) << o.out;
        const NcReader nc(target);
        const std::vector<float> q = nc.floats("discharge");
        ASSERT_EQ(q.size(), g.hourly.size());
        const double bound = 0.5 * std::pow(10.0, 1 - digits);
        double worst = 0.0;
        bool changed = false;
        for (std::size_t i = 0; i < q.size(); ++i) {
            if (g.hourly[i] == kFill) {
                ASSERT_EQ(q[i], kFill);
                continue;
            }
            changed = changed || q[i] != g.hourly[i];
            worst = std::max(worst,
                             std::abs(static_cast<double>(q[i]) - static_cast<double>(g.hourly[i]))
                                 / std::abs(static_cast<double>(g.hourly[i])));
        }
        EXPECT_TRUE(changed);
        EXPECT_LE(worst, bound);
        for (const char* name : {"discharge", "discharge_daily_mean", "discharge_event_max"}) {
            EXPECT_EQ(nc.number(name, "_QuantizeGranularBitRoundNumberOfSignificantDigits"), digits)
                << name;
        }
        EXPECT_EQ(nc.number("time_of_peak", "_QuantizeGranularBitRoundNumberOfSignificantDigits"),
                  -1.0e300);
        EXPECT_NE(nc.text("", "history").find("--significant-digits"), std::string::npos);
    }
}

/// `values` as the library stores them in a float variable quantized to `digits`.
std::vector<float> roundedByTheLibrary(const fs::path& file, const std::vector<float>& values,
                                       int digits) {
    int nc = -1;
    int dim = -1;
    int var = -1;
    std::vector<float> back(values.size());
    const bool ok =
        nc_create(file.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc) == NC_NOERR
        && nc_def_dim(nc, "x", values.size(), &dim) == NC_NOERR
        && nc_def_var(nc, "v", NC_FLOAT, 1, &dim, &var) == NC_NOERR
        && nc_def_var_fill(nc, var, 0, &kFill) == NC_NOERR
        && nc_def_var_quantize(nc, var, NC_QUANTIZE_GRANULARBR, digits) == NC_NOERR
        && nc_enddef(nc) == NC_NOERR && nc_put_var_float(nc, var, values.data()) == NC_NOERR
        && nc_close(nc) == NC_NOERR && nc_open(file.c_str(), NC_NOWRITE, &nc) == NC_NOERR
        && nc_get_var_float(nc, var, back.data()) == NC_NOERR && nc_close(nc) == NC_NOERR;
    EXPECT_TRUE(ok);
    return back;
}

// Rounded here, every float is the bits the library stores for it: random bit patterns of
// every sign and exponent, every power of two (where the mantissa's logarithm is exact), values
// just below a power of ten, zeros, the fill value and the extremes; at 1 to 6 digits.
TEST(StoredLayouts, SignificantDigitsRoundedAsTheLibraryRoundsThem) {
    test::TempDir dir;
    std::vector<float> values{0.0F,
                              -0.0F,
                              kFill,
                              std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::min(),
                              std::numeric_limits<float>::denorm_min(),
                              -1.0F};
    std::mt19937 random(5);
    while (values.size() < 200000) {
        const auto v = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        if (std::isfinite(v)) {
            values.push_back(v);
        }
    }
    for (int e = -149; e <= 127; ++e) {
        values.push_back(std::ldexp(1.0F, e));
        values.push_back(std::nextafter(std::ldexp(1.0F, e), 0.0F));
    }
    for (int k = -30; k <= 30; ++k) {
        const auto p = static_cast<float>(std::pow(10.0, k));
        for (const float f : {1.0F, 0.99995F, 0.9995F, 0.995F, 0.95F, 0.5F, 0.49995F}) {
            values.push_back(p * f);
        }
    }
    for (int digits = 1; digits <= kMaxSignificantDigits; ++digits) {
        SCOPED_TRACE(digits);
        std::vector<float> ours = values;
        roundToSignificantDigits(ours, digits, kFill);
        const std::vector<float> theirs = roundedByTheLibrary(dir / "q.nc", values, digits);
        std::size_t differ = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (std::bit_cast<std::uint32_t>(ours[i]) != std::bit_cast<std::uint32_t>(theirs[i])) {
                ADD_FAILURE_AT(__FILE__, __LINE__)
                    << values[i] << ": " << ours[i] << " here, " << theirs[i] << " by the library";
                if (++differ == 5) {
                    break;
                }
            }
        }
    }
}

/// The path of the Python interpreter whose modules the Zarr check uses.
std::string python() {
#ifdef HYDRO_PYTHON3
    return HYDRO_PYTHON3;
#else
    return "python3";
#endif
}

// A Zarr store (tiles of every hour here) holds the file's values and attributes for the
// NetCDF library and for xarray, replaces an earlier store and never a folder of another kind.
TEST(StoredLayouts, ZarrStoreReadByTheLibraryAndByXarray) {
    test::TempDir dir;
    const NoisyGrids g = writeNoisyCase(dir.path());
    const fs::path store = dir / "out.zarr";
    fs::create_directories(store);
    test::writeText(store / "notes.txt", "mine");
    const std::vector<std::string> args{dir.path().string(), store.string(), "--format", "zarr",
                                        "--chunks",          "time-series"};
    const Outcome refused = runWith(args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "out.zarr is not a Zarr store, so it is not replaced.\n");
    EXPECT_EQ(test::readText(store / "notes.txt"), "mine");
    fs::remove_all(store);
    for (int round = 0; round < 2; ++round) {  // the second replaces the first
        const Outcome o = runWith(args);
        ASSERT_EQ(o.status, 0) << o.out;
        EXPECT_TRUE(o.out.starts_with("Wrote " + store.string() + ": 48 hours")) << o.out;
    }
    std::vector<std::string> entries;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        entries.push_back(e.path().filename().string());
    }
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"input", "out.zarr", "output", "param-event.dat",
                                                 "topoData"}));
    {
        const NcReader nc("file://" + store.string() + "#mode=zarr,file");
        ASSERT_TRUE(nc.ok());
        EXPECT_EQ(nc.floats("discharge"), g.hourly);
        EXPECT_EQ(nc.floats("discharge_daily_max"), g.dailyMax);
        EXPECT_EQ(nc.text("discharge", "standard_name"), "water_volume_transport_in_river_channel");
        EXPECT_EQ(nc.text("", "Conventions"), "CF-1.8");
        EXPECT_EQ(chunkLengths(nc, "discharge"), (std::vector<std::size_t>{48, 64, 64}));
    }
    if (std::system((python() + " -c 'import xarray, zarr' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "the Python modules xarray and zarr are absent (Debian: python3-xarray, "
                        "python3-zarr): the store was not opened with xarray";
    }
    const fs::path script = dir / "check.py";
    test::writeText(script, R"(import sys, numpy, xarray
store, grid = sys.argv[1], sys.argv[2]
ds = xarray.open_zarr(store, consolidated=False)
raw = numpy.fromfile(grid, dtype="<f4").reshape(48, 70, 150)
q = ds["discharge"].values
assert q.shape == raw.shape, q.shape
assert numpy.array_equal(numpy.isnan(q), raw == -9999)
assert numpy.array_equal(q[raw != -9999], raw[raw != -9999])
assert ds["discharge"].attrs["units"] == "m3 s-1"
assert ds["discharge"].attrs["grid_mapping"] == "crs"
assert ds.attrs["Conventions"] == "CF-1.8"
assert str(ds["time"].values[0]).startswith("2021-03-14T07:30"), ds["time"].values[0]
assert abs(float(ds["lat"].values[0]) - (34.2314 + 0.5 / 120)) < 1e-5
print("ok")
)");
    const std::string command = python() + " '" + script.string() + "' '" + store.string() + "' '"
                                + (dir / "output/dischargeHourly.bin").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// Wrong values of the new options: one line naming the file that would have been written,
// status 1, nothing written; the state conversion takes none of them.
TEST(StoredLayouts, WrongOptionsAreOneLineNamingTheFile) {
    test::TempDir dir;
    writeNoisyCase(dir.path());
    const std::string c = dir.path().string();
    const std::string nc = (dir / "output/discharge.nc").string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{c, "--significant-digits", "0"},
         "Cannot write " + nc
             + ": --significant-digits must be a whole number from 1 to 6, "
               "not \"0\"."},
        {{c, "--significant-digits", "7"},
         "Cannot write " + nc
             + ": --significant-digits must be a whole number from 1 to 6, "
               "not \"7\"."},
        {{c, "--chunks", "tiles"},
         "Cannot write " + nc + ": --chunks must be frames or time-series, not \"tiles\"."},
        {{c, "--format", "hdf"},
         "Cannot write " + nc + ": --format must be netcdf or zarr, not \"hdf\"."},
        {{c, "--format", "zarr", "--chunks", "x\x1b"},
         "Cannot write " + (dir / "output/discharge.zarr").string()
             + ": --chunks must be frames or time-series, not \"x\\x1B\"."},
    };
    for (const auto& [args, line] : cases) {
        const Outcome o = runWith(args);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, line + "\n");
    }
    EXPECT_FALSE(fs::exists(nc));
    EXPECT_FALSE(fs::exists(dir / "output/discharge.zarr"));
    const Outcome state = runWith({c, "--state", "s.state", "x.nc", "--format", "zarr"});
    EXPECT_EQ(state.status, 1);
    EXPECT_TRUE(state.out.starts_with("Usage: discharge_netcdf CASE_DIR")) << state.out;
}

}  // namespace
}  // namespace hydro::results
