// Conversion speed of the discharge grids to NetCDF, in raw grid bytes per second: one day on
// a quarter of real-basin-large's grid (1197 x 161 cells, 24 hourly frames and two daily
// ones), deflate level 1 against stored chunks; at level 1, the chunks deflated on every core
// against the library deflating them one by one, and the time-series tiles; and the packing
// of one chunk alone (shuffle and zlib), in processor time. The values imitate a basin's: nine
// cells in ten carry a discharge with noisy low bits, the rest are no-data.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "common/raw_grid_io.h"
#include "results/chunk_codec.h"
#include "results/grid_netcdf.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kCols = 1197;
constexpr std::int32_t kRows = 161;

class SyntheticGrids {
public:
    SyntheticGrids() {
        root_ = fs::temp_directory_path() / ("hydro-bench-netcdf-" + std::to_string(::getpid()));
        fs::create_directories(root_);
        const auto cells = static_cast<std::size_t>(kCols) * kRows;
        std::mt19937 random(7);
        std::lognormal_distribution<float> discharge(0.0F, 2.0F);
        std::vector<float> frame(cells);
        const auto fill = [&] {
            for (std::size_t i = 0; i < cells; ++i) {
                frame[i] = i % 10 == 0 ? hydro::results::kNoData : discharge(random);
            }
        };
        ok_ = write("dischargeHourly.bin", 24, fill, frame)
              && write("dischargeDaily.bin", 1, fill, frame)
              && write("dischargeHourlyMaxInDay.bin", 1, fill, frame);
    }
    ~SyntheticGrids() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    SyntheticGrids(const SyntheticGrids&) = delete;
    SyntheticGrids& operator=(const SyntheticGrids&) = delete;
    SyntheticGrids(SyntheticGrids&&) = delete;
    SyntheticGrids& operator=(SyntheticGrids&&) = delete;

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] const fs::path& root() const { return root_; }

private:
    template <class Fill>
    bool write(const char* name, int frames, Fill fill, std::vector<float>& frame) {
        hydro::RawValueWriter out;
        if (!out.open(root_ / name)) {
            return false;
        }
        for (int f = 0; f < frames; ++f) {
            fill();
            out.write(frame);
        }
        return out.close();
    }

    fs::path root_;
    bool ok_ = false;
};

/// Arguments: deflate level, chunks deflated on every core (1) or by the library (0), and
/// the layout (0 frames, 1 time-series tiles).
void BM_convertDay(benchmark::State& state) {
    static const SyntheticGrids grids;
    if (!grids.ok()) {
        state.SkipWithError("cannot write the synthetic grids");
        return;
    }
    hydro::results::GridNetcdfJob job;
    job.outputDir = grids.root();
    job.target = grids.root() / "discharge.nc";
    job.params.studyCols = kCols;
    job.params.studyRows = kRows;
    job.params.days = 1;
    job.history = "benchmark";
    job.deflateLevel = static_cast<int>(state.range(0));
    job.parallelChunks = state.range(1) != 0;
    job.chunks = state.range(2) != 0 ? hydro::results::ChunkLayout::kTimeSeries
                                     : hydro::results::ChunkLayout::kFrames;
    for (auto _ : state) {
        if (const hydro::Status written = hydro::results::writeGridNetcdf(job); !written) {
            state.SkipWithError(written.error().message.c_str());
            return;
        }
    }
    const std::int64_t rawBytes = std::int64_t{kCols} * kRows * 4 * 26;
    state.SetBytesProcessed(state.iterations() * rawBytes);
}
BENCHMARK(BM_convertDay)
    ->Args({1, 1, 0})
    ->Args({1, 0, 0})
    ->Args({1, 1, 1})
    ->Args({0, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

/// One frame shuffled and deflated at level 1 on one core: the work each thread does per
/// chunk, in processor time.
void BM_packFrame(benchmark::State& state) {
    const auto cells = static_cast<std::size_t>(kCols) * kRows;
    std::mt19937 random(7);
    std::lognormal_distribution<float> discharge(0.0F, 2.0F);
    std::vector<float> frame(cells);
    for (std::size_t i = 0; i < cells; ++i) {
        frame[i] = i % 10 == 0 ? hydro::results::kNoData : discharge(random);
    }
    const auto bytes = std::as_bytes(std::span(frame));
    std::vector<std::byte> shuffled(bytes.size());
    std::vector<std::byte> packed(hydro::results::deflateBound(bytes.size()));
    for (auto _ : state) {
        hydro::results::shuffleBytes(bytes, sizeof(float), shuffled);
        benchmark::DoNotOptimize(hydro::results::deflateChunk(shuffled, 1, packed));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_packFrame)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
