#include "tests/runoff_sim/engine_case.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <sstream>

#include "case/case.h"
#include "runoff_sim/processing_order.h"
#include "runoff_sim/routing_setup.h"

namespace hydro::test {

namespace {

std::size_t at(std::int32_t row, std::int32_t col, std::int32_t cols) {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(cols)
           + static_cast<std::size_t>(col);
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
    const std::size_t n = 3U * static_cast<std::size_t>(c.studyCols);
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
    c.studyCols = 3 * trees + 2;
    const std::size_t n = at(c.studyRows, 0, c.studyCols);
    c.elevation.assign(n, 100.0F);
    c.flowDir.assign(n, 5);
    c.flowAcc.assign(n, 1);
    c.riverNum.assign(n, 1);
    const auto set = [&](std::int32_t row, std::int32_t col, std::int32_t dir, std::int32_t acc) {
        c.flowDir[at(row, col, c.studyCols)] = dir;
        c.flowAcc[at(row, col, c.studyCols)] = acc;
    };
    for (std::int32_t t = 0; t < trees; ++t) {
        const std::int32_t west = 1 + 3 * t;
        const std::int32_t middle = west + 1;
        const std::int32_t east = west + 2;
        for (std::int32_t row = 1; row <= 4; ++row) {
            const float drop = 3.0F * static_cast<float>(row);
            c.elevation[at(row, west, c.studyCols)] = 91.0F - drop;
            c.elevation[at(row, middle, c.studyCols)] = 90.0F - drop;
            c.elevation[at(row, east, c.studyCols)] = 91.0F - drop;
        }
        // The outer branches join the middle one at row 3; below them two short chains.
        set(2, west, 4, 2);
        set(2, east, 6, 2);
        set(2, middle, 5, 2);
        set(3, middle, 5, 7);
        set(4, middle, 5, 8);
        set(4, west, 5, 2);
        set(4, east, 5, 2);
    }
    c.rainCols = 8;
    c.rainRows = 2;
    c.rain = changingRain;
    return c;
}

std::unique_ptr<PlannedCase> planCase(const SimCase& c) {
    auto planned = std::make_unique<PlannedCase>();
    c.write(planned->dir.path());
    auto p = readEventParameters(planned->dir / "param-event.dat");
    if (!p) {
        ADD_FAILURE() << p.error().message;
        return nullptr;
    }
    planned->params = *p;
    const auto grid = buildDrainageNetwork(planned->dir / "topoData", *p);
    if (!grid) {
        ADD_FAILURE() << grid.error().message;
        return nullptr;
    }
    auto rain = readCaseRainfall(planned->dir.path(), *p);
    if (!rain) {
        ADD_FAILURE() << rain.error().message;
        return nullptr;
    }
    planned->rain = std::move(*rain);
    const RiverList rivers({1});
    auto plan = runoff::buildRoutingPlan(*grid, rivers, runoff::orderRoutedCells(*grid, rivers),
                                         planned->rain, *p);
    if (!plan) {
        ADD_FAILURE() << plan.error().message;
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
