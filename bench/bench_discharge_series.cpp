// Time to extract one cell's series from a two-day hourly grid the size of the example basin's
// larger sibling (643 x 1197 cells, 48 frames, 148 MB), against reading the whole grid once.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/raw_grid_io.h"
#include "discharge_series/extractor.h"

namespace {

namespace fs = std::filesystem;

constexpr int kCols = 643;
constexpr int kRows = 1197;
constexpr int kDays = 2;

/// A case folder with "param-event.dat" and "output/dischargeHourly.bin", removed at exit.
class SyntheticCase {
public:
    SyntheticCase() {
        root_ = fs::temp_directory_path() / ("hydro-bench-series-" + std::to_string(::getpid()));
        fs::create_directories(root_ / "output");
        std::ofstream(root_ / "param-event.dat")
            << kCols << ' ' << kRows << " 0 0 1 1 0.1 0.1 0 0 " << kDays << '\n';
        hydro::RawValueWriter grid;
        if (!grid.open(root_ / "output" / "dischargeHourly.bin")) {
            return;
        }
        std::vector<float> frame(static_cast<std::size_t>(kCols) * kRows);
        for (int f = 0; f < 24 * kDays; ++f) {
            for (std::size_t i = 0; i < frame.size(); ++i) {
                frame[i] = static_cast<float>(f) + static_cast<float>(i % 1000) * 0.001F;
            }
            grid.write(frame);
        }
        ok_ = grid.close();
    }
    ~SyntheticCase() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    SyntheticCase(const SyntheticCase&) = delete;
    SyntheticCase& operator=(const SyntheticCase&) = delete;
    SyntheticCase(SyntheticCase&&) = delete;
    SyntheticCase& operator=(SyntheticCase&&) = delete;

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] fs::path work() const { return root_ / "output"; }

private:
    fs::path root_;
    bool ok_ = false;
};

SyntheticCase& syntheticCase() {
    static SyntheticCase c;
    return c;
}

void BM_extractCellSeries(benchmark::State& state) {
    auto& c = syntheticCase();
    if (!c.ok()) {
        state.SkipWithError("cannot write the synthetic grid");
        return;
    }
    for (auto _ : state) {
        std::istringstream in("321 600\n");
        std::ostringstream console;
        benchmark::DoNotOptimize(hydro::runDischargeSeries(in, console, c.work()));
    }
    state.SetItemsProcessed(state.iterations() * 24 * kDays);
}
BENCHMARK(BM_extractCellSeries)->Unit(benchmark::kMillisecond);

/// The reference: every value of every frame read once, in stored order.
void BM_streamWholeGrid(benchmark::State& state) {
    auto& c = syntheticCase();
    if (!c.ok()) {
        state.SkipWithError("cannot write the synthetic grid");
        return;
    }
    std::vector<float> block(std::size_t{1} << 16U);
    for (auto _ : state) {
        hydro::RawValueReader grid;
        if (!grid.open(c.work() / "dischargeHourly.bin")) {
            state.SkipWithError("cannot open the synthetic grid");
            return;
        }
        std::uint64_t total = 0;
        while (const std::size_t n = grid.read(block)) {
            total += n;
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * 24 * kDays);
}
BENCHMARK(BM_streamWholeGrid)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
