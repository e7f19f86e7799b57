// Cost of one hourly map: colour indices, the raster, and the whole image written to a file.
// Grid sizes: a small case, the bundled example basin and the full-resolution basin.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "discharge_map/ppm_frame.h"

namespace {

using hydro::FileHandle;

/// A frame with no-data borders and a spread of discharges between 0 and 400 m3/s.
std::vector<float> makeFrame(std::int32_t rows, std::int32_t cols) {
    std::vector<float> frame(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    std::uint32_t state = 12345U;
    for (float& v : frame) {
        state = state * 1664525U + 1013904223U;
        const std::uint32_t bits = state >> 8U;
        v = (bits % 3U == 0U) ? -9999.0F : static_cast<float>(bits % 400000U) / 1000.0F;
    }
    return frame;
}

void BM_fillIndexGrid(benchmark::State& state) {
    const auto rows = static_cast<std::int32_t>(state.range(0));
    const auto cols = static_cast<std::int32_t>(state.range(1));
    const std::vector<float> frame = makeFrame(rows, cols);
    std::vector<std::int32_t> indices(frame.size());
    for (auto _ : state) {
        hydro::fillIndexGrid(frame, rows, cols, 0.0F, 400.0F, indices);
        benchmark::DoNotOptimize(indices.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frame.size()));
}

void BM_paintRaster(benchmark::State& state) {
    const auto rows = static_cast<std::int32_t>(state.range(0));
    const auto cols = static_cast<std::int32_t>(state.range(1));
    const std::vector<float> frame = makeFrame(rows, cols);
    std::vector<std::int32_t> indices(frame.size());
    hydro::fillIndexGrid(frame, rows, cols, 0.0F, 400.0F, indices);
    std::vector<unsigned char> raster(frame.size() * 75);
    for (auto _ : state) {
        hydro::paintRaster(indices, rows, cols, raster);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raster.size()));
}

void BM_writePpmFrame(benchmark::State& state) {
    const auto rows = static_cast<std::int32_t>(state.range(0));
    const auto cols = static_cast<std::int32_t>(state.range(1));
    const std::vector<float> frame = makeFrame(rows, cols);
    std::vector<std::int32_t> indices(frame.size());
    const std::string header = hydro::ppmHeader(rows, cols);
    std::vector<unsigned char> image(*hydro::imageFileBytes(rows, cols));
    std::copy(header.begin(), header.end(), image.begin());
    const auto path = std::filesystem::temp_directory_path()
                      / ("bench-map-" + std::to_string(::getpid()) + ".ppm");
    for (auto _ : state) {
        hydro::fillIndexGrid(frame, rows, cols, 0.0F, 400.0F, indices);
        hydro::paintRaster(indices, rows, cols,
                           std::span<unsigned char>(image).subspan(header.size()));
        FileHandle file = hydro::createImageFile(path);
        if (!hydro::writeAndClose(std::move(file), image)) {
            state.SkipWithError("cannot write the image");
            break;
        }
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}

void gridSizes(benchmark::internal::Benchmark* b) {
    b->Args({10, 8})->Args({107, 199})->Args({643, 1197})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_fillIndexGrid)->Apply(gridSizes);
BENCHMARK(BM_paintRaster)->Apply(gridSizes);
BENCHMARK(BM_writePpmFrame)->Apply(gridSizes);

BENCHMARK_MAIN();
