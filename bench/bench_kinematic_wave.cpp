// The kinematic-wave kernel over a real event: nanoseconds per node update of the time loop on
// the bundled example basin, for the linear and the conservative scheme, beside the cost of
// the two independent pow calls that a linear node update cannot avoid (exponent (m - 1) / m,
// arguments drawn from the same event).

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <iostream>
#include <sstream>

#include "case/case.h"
#include "case/event_parameters.h"
#include "case/river_list.h"
#include "routing/processing_order.h"
#include "routing/rain_cell.h"
#include "routing/routing_engine.h"
#include "routing/routing_setup.h"

namespace {

using namespace hydro;
using namespace hydro::runoff;

/// The example basin's first day, set up once.
struct Event {
    EventParameters params;
    StudyGrid grid;
    RainGrid rain;
    RoutingPlan plan;              ///< linear
    RoutingPlan conservativePlan;  ///< the same cells, conservative
    std::vector<double> powArguments;

    Event() {
        const std::filesystem::path dir = HYDRO_EXAMPLE_DIR;
        auto data = readCase(dir);
        if (!data) {
            std::cerr << data.error().message << '\n';
            std::exit(1);
        }
        params = data->params;
        params.days = 1;
        auto read = readCaseRainfall(dir, params);
        if (!read) {
            std::cerr << read.error().message << '\n';
            std::exit(1);
        }
        rain = std::move(*read);
        grid = std::move(data->grid);
        const RiverList& rivers = data->rivers;
        plan = *buildRoutingPlan(grid, rivers, orderRoutedCells(grid, rivers), rain, params);
        conservativePlan = *buildRoutingPlan(grid, rivers, orderRoutedCells(grid, rivers), rain,
                                             params, Scheme::kConservative);
    }

    [[nodiscard]] std::int64_t nodeUpdates() const {
        return static_cast<std::int64_t>(plan.cells.size()) * 24 * plan.subStepsPerHour
               * plan.scheme.spaceSteps;
    }
};

Event& event() {
    static Event e;
    return e;
}

/// Arguments: threads, and 0 for the linear scheme or 1 for the conservative one.
void BM_nodeUpdate(benchmark::State& state) {
    Event& e = event();
    omp_set_num_threads(static_cast<int>(state.range(0)));
    const RoutingPlan& plan = state.range(1) == 0 ? e.plan : e.conservativePlan;
    ProgressPacer quiet(0, 0, [](std::int64_t) {});
    const FrameSink sink{
        [](std::int32_t, std::int32_t, std::span<const float>) { return true; },
        [](std::int32_t, std::span<const float>, std::span<const float>) { return true; }};
    RoutingEngine engine(plan, e.rain, quiet);
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.run(sink));
    }
    // Arguments for the pow benchmark: the node discharges the day left behind.
    if (state.range(1) == 0) {
        const std::span<const double> last = engine.nodeStates();
        e.powArguments.assign(last.begin(), last.end());
        std::erase_if(e.powArguments, [](double q) { return q == 0.0; });
    }
    state.SetItemsProcessed(state.iterations() * e.nodeUpdates());
    // Seconds per node update (shown with an SI prefix: 23.5n is 23.5 ns).
    state.counters["per_node"] =
        benchmark::Counter(static_cast<double>(state.iterations() * e.nodeUpdates()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_nodeUpdate)
    ->ArgNames({"threads", "conservative"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_twoIndependentPows(benchmark::State& state) {
    Event& e = event();
    if (e.powArguments.size() < 2) {
        // The node benchmark did not run first: draw from the initial profiles instead.
        e.powArguments = e.plan.initialNodes;
        std::erase_if(e.powArguments, [](double q) { return q == 0.0; });
    }
    const double m = exponentMOf(1.0);
    const double exponent = (m - 1.0) / m;
    const std::vector<double>& a = e.powArguments;
    const std::size_t n = a.size() & ~std::size_t{1};
    std::size_t i = 0;
    for (auto _ : state) {
        const double x = std::pow(a[i], exponent);
        const double y = std::pow(a[i + 1], exponent);
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
        i += 2;
        if (i >= n) {
            i = 0;
        }
    }
    state.counters["per_pair"] =
        benchmark::Counter(static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_twoIndependentPows);

}  // namespace

BENCHMARK_MAIN();
