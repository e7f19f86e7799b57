// Time to write and to read the state of a basin the size of the example basin's larger
// sibling (705,519 routed cells, 4 space steps: 6 values per cell, 36.7 MB), as runoff_sim
// writes it at every --state-every hour, and to assemble it from a routing engine's nodes.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "case/run_state.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kCells = 705519;
constexpr std::int32_t kSpaceSteps = 4;

hydro::RunState largeState() {
    hydro::RunState s;
    s.origin.columns = 643;
    s.origin.rows = 1197;
    s.origin.spaceSteps = kSpaceSteps;
    s.origin.timeStep = 60;
    s.time = 946684800 + 3600;
    s.positions.resize(kCells);
    for (std::int32_t c = 0; c < kCells; ++c) {
        s.positions[static_cast<std::size_t>(c)] = c;
    }
    s.values.resize(static_cast<std::size_t>(kCells) * s.valuesPerCell());
    for (std::size_t i = 0; i < s.values.size(); ++i) {
        s.values[i] = 0.001 * static_cast<double>(i % 9973);
    }
    s.run.rivers.resize(1);
    return s;
}

fs::path scratch() {
    return fs::temp_directory_path() / ("hydro-bench-state-" + std::to_string(::getpid()) + ".bin");
}

void bmWriteState(benchmark::State& state) {
    const hydro::RunState s = largeState();
    const fs::path path = scratch();
    for (auto _ : state) {
        if (!hydro::writeState(path, s)) {
            state.SkipWithError("the state could not be written");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
    fs::remove(path);
}
BENCHMARK(bmWriteState)->Unit(benchmark::kMillisecond)->UseRealTime();

void bmReadState(benchmark::State& state) {
    const fs::path path = scratch();
    if (!hydro::writeState(path, largeState())) {
        state.SkipWithError("the state could not be written");
        return;
    }
    for (auto _ : state) {
        auto back = hydro::readState(path);
        benchmark::DoNotOptimize(back);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
    fs::remove(path);
}
BENCHMARK(bmReadState)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
