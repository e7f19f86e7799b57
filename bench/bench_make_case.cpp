// Stages of `make_case terrain` on a 2400 x 2400 fractal DEM full of pits (5.76 M cells), in
// cells per second: reading the GeoTIFF, depression filling with flow directions and
// accumulation, river numbering, writing the case, and the whole command.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>

#include "make_case/app.h"
#include "make_case/case_writer.h"
#include "make_case/flow_network.h"
#include "make_case/raster_source.h"
#include "make_case/synthetic_dem.h"

namespace {

namespace fs = std::filesystem;
using namespace hydro::make_case;

constexpr std::int32_t kSide = 2400;

/// The DEM as a GeoTIFF in a scratch folder, written once; the folder stays for inspection
/// (`make_case terrain <it> CASE` under /usr/bin/time gives the peak memory).
const fs::path& demFile() {
    static const fs::path path = [] {
        const fs::path dir = fs::temp_directory_path() / "make_case_bench";
        fs::create_directories(dir);
        const fs::path tif = dir / "fractal2400.tif";
        const GridSpec gridSpec{-118 * 120, 34 * 120, kSide, kSide};
        if (!writeTerrainGeoTiff(tif, fractalTerrain(gridSpec, 7))) {
            throw std::runtime_error("cannot write the benchmark DEM");
        }
        return tif;
    }();
    return path;
}

Terrain readDem() {
    auto t = loadDem(DemRequest{demFile(), std::nullopt, std::nullopt}, std::nullopt);
    markOutside(*t);
    return std::move(*t);
}

void setCells(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kSide * kSide);
}

void BM_readGeoTiff(benchmark::State& state) {
    demFile();
    for (auto _ : state) {
        benchmark::DoNotOptimize(readDem());
    }
    setCells(state);
}
BENCHMARK(BM_readGeoTiff)->Unit(benchmark::kMillisecond);

void BM_fillDirectionsAccumulation(benchmark::State& state) {
    const Terrain dem = readDem();
    for (auto _ : state) {
        state.PauseTiming();
        Terrain t = dem;
        state.ResumeTiming();
        benchmark::DoNotOptimize(conditionTerrain(t, 34.0F));
    }
    setCells(state);
}
BENCHMARK(BM_fillDirectionsAccumulation)->Unit(benchmark::kMillisecond);

void BM_numberRivers(benchmark::State& state) {
    Terrain t = readDem();
    const FlowNetwork net = conditionTerrain(t, 34.0F);
    for (auto _ : state) {
        const auto outlets = terminalOutlets(t.outside, net.receiver, net.flowAcc, 100);
        std::vector<std::pair<std::int32_t, std::int32_t>> numbered;
        for (std::size_t k = 0; k < outlets.size(); ++k) {
            numbered.emplace_back(outlets[k], static_cast<std::int32_t>(k + 1));
        }
        benchmark::DoNotOptimize(labelRivers(net.receiver, net.order, numbered));
    }
    setCells(state);
}
BENCHMARK(BM_numberRivers)->Unit(benchmark::kMillisecond);

void BM_writeCase(benchmark::State& state) {
    Terrain t = readDem();
    const FlowNetwork net = conditionTerrain(t, 34.0F);
    const std::vector<std::int32_t> riverNum(net.flowAcc.size(), -1);
    const fs::path caseDir = demFile().parent_path() / "write_case";
    CaseFiles files;
    files.gridSpec = &t.gridSpec;
    files.elevation = t.elevation;
    files.flowDir = net.flowDir;
    files.flowAcc = net.flowAcc;
    files.riverNum = riverNum;
    files.parameterText = defaultParameterText(t.gridSpec);
    for (auto _ : state) {
        benchmark::DoNotOptimize(writeCase(caseDir, files));
    }
    setCells(state);
}
BENCHMARK(BM_writeCase)->Unit(benchmark::kMillisecond);

void BM_wholeCommand(benchmark::State& state) {
    TerrainOptions o;
    o.dem = demFile();
    o.caseDir = demFile().parent_path() / "whole_case";
    std::ostringstream out;
    for (auto _ : state) {
        fs::remove(o.caseDir / "param-event.dat");
        benchmark::DoNotOptimize(runTerrain(o, out, out));
    }
    setCells(state);
}
BENCHMARK(BM_wholeCommand)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
