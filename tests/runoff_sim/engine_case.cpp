#include "tests/runoff_sim/engine_case.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <sstream>

#include "runoff_sim/drainage_network.h"
#include "runoff_sim/processing_order.h"
#include "runoff_sim/river_list.h"
#include "runoff_sim/routing_setup.h"

namespace hydro::test {

namespace {

std::size_t at(std::int32_t row, std::int32_t col, std::int32_t cols) {
    return static_cast<std::size_t>(row * cols + col);
}

/// Rain on every point, changing with the hour and the point.
float changingRain(int day, int hourIndex, int row, int column) {
    return static_cast<float>((hourIndex * 7 + day * 3 + row * 5 + column) % 11);
}

}  // namespace

SimCase chainCase(std::int32_t length) {
    SimCase c;
    c.studyRows = 3;
    c.studyCols = length + 2;
    const auto n = static_cast<std::size_t>(3 * c.studyCols);
    c.elevation.assign(n, 100.0F);
    c.flowDir.assign(n, 3);
    c.flowAcc.assign(n, 1);
    c.riverNum.assign(n, 1);
    for (std::int32_t col = 0; col < c.studyCols; ++col) {
        c.elevation[at(1, col, c.studyCols)] = 100.0F - 0.5F * static_cast<float>(col);
        c.flowAcc[at(1, col, c.studyCols)] = col;
    }
    c.rainCols = 4;
    c.rain = changingRain;
    return c;
}

SimCase forestCase(std::int32_t trees) {
    SimCase c;
    c.studyRows = 6;
    c.studyCols = 2 * trees + 2;
    const auto n = static_cast<std::size_t>(c.studyRows * c.studyCols);
    c.elevation.assign(n, 100.0F);
    c.flowDir.assign(n, 5);
    c.flowAcc.assign(n, 1);
    c.riverNum.assign(n, 1);
    for (std::int32_t t = 0; t < trees; ++t) {
        const std::int32_t west = 1 + 2 * t;
        const std::int32_t east = west + 1;
        for (std::int32_t row = 1; row <= 4; ++row) {
            c.elevation[at(row, west, c.studyCols)] = 90.0F - 3.0F * static_cast<float>(row);
            c.elevation[at(row, east, c.studyCols)] = 89.0F - 3.0F * static_cast<float>(row);
        }
        // West branch: rows 1 and 2, then south-east into the east branch's row 3.
        c.flowAcc[at(2, west, c.studyCols)] = 2;
        c.flowDir[at(2, west, c.studyCols)] = 4;
        // East branch: rows 1 to 4, taking the west branch in at row 3.
        c.flowAcc[at(2, east, c.studyCols)] = 2;
        c.flowAcc[at(3, east, c.studyCols)] = 5;
        c.flowAcc[at(4, east, c.studyCols)] = 6;
        // The west column's lower cells drain on their own.
        c.flowAcc[at(4, west, c.studyCols)] = 2;
    }
    c.rainCols = 6;
    c.rainRows = 2;
    c.rain = changingRain;
    return c;
}

std::unique_ptr<PlannedCase> planCase(const SimCase& c) {
    auto planned = std::make_unique<PlannedCase>();
    c.write(planned->dir.path());
    std::ostringstream quiet;
    auto p = runoff::readEventParameters(planned->dir / "param-event.dat", quiet);
    if (!p) {
        ADD_FAILURE() << quiet.str();
        return nullptr;
    }
    planned->params = *p;
    const auto grid = runoff::buildDrainageNetwork(planned->dir / "topoData", *p, quiet);
    planned->rain = runoff::placeRainPoints(*p);
    if (!grid || !runoff::readRainfall(planned->dir / "input" / "rain.dat", planned->rain, quiet)) {
        ADD_FAILURE() << quiet.str();
        return nullptr;
    }
    const runoff::RiverList rivers({1});
    auto plan = runoff::buildRoutingPlan(*grid, rivers, runoff::orderRoutedCells(*grid, rivers),
                                         planned->rain, *p, quiet);
    if (!plan) {
        ADD_FAILURE() << quiet.str();
        return nullptr;
    }
    planned->plan = std::move(*plan);
    return planned;
}

EventFrames collectFrames(runoff::RoutingEngine& engine) {
    EventFrames out;
    const auto keep = [&](std::span<const float> frame) {
        for (float v : frame) {
            out.bits.push_back(std::bit_cast<std::uint32_t>(v));
        }
    };
    const runoff::FrameSink sink{
        [&](std::int32_t, std::int32_t, std::span<const float> frame) {
            keep(frame);
            return true;
        },
        [&](std::int32_t, std::span<const float> mean, std::span<const float> max) {
            keep(mean);
            keep(max);
            return true;
        }};
    out.status = engine.run(sink);
    return out;
}

EventFrames runWithThreads(const PlannedCase& planned, int threads) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    runoff::ProgressPacer progress(0, 0, [](std::int64_t) {});
    runoff::RoutingEngine engine(planned.plan, planned.rain, progress);
    EventFrames frames = collectFrames(engine);
    omp_set_num_threads(saved);
    return frames;
}

}  // namespace hydro::test
