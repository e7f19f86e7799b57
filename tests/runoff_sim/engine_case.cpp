#include "tests/runoff_sim/engine_case.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <bit>
#include <random>
#include <sstream>

#include "case/case.h"
#include "case/grid_cell.h"
#include "routing/processing_order.h"
#include "routing/routing_setup.h"

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

void countAccumulation(SimCase& c) {
    const std::int32_t rows = c.studyRows;
    const std::int32_t cols = c.studyCols;
    const auto inside = [&](std::int32_t r, std::int32_t k) {
        return r > 0 && r < rows - 1 && k > 0 && k < cols - 1;
    };
    for (std::int32_t row = 1; row < rows - 1; ++row) {
        for (std::int32_t col = 1; col < cols - 1; ++col) {
            c.flowAcc[at(row, col, cols)] = 1;
        }
    }
    for (std::int32_t row = 1; row < rows - 1; ++row) {
        for (std::int32_t col = 1; col < cols - 1; ++col) {
            std::int32_t r = row;
            std::int32_t k = col;
            // At most one step a cell: a loop in the flow ends the walk.
            for (std::int32_t steps = 0; steps < rows * cols && inside(r, k); ++steps) {
                const D8Offset step =
                    kD8Offsets[static_cast<std::size_t>(c.flowDir[at(r, k, cols)])];
                r += step.row;
                k += step.column;
                if (inside(r, k)) {
                    ++c.flowAcc[at(r, k, cols)];
                }
            }
        }
    }
}

SimCase branchingCase(std::int32_t rows, std::int32_t cols) {
    SimCase c;
    c.studyRows = rows;
    c.studyCols = cols;
    c.days = 2;
    const std::size_t n = at(rows, 0, cols);
    c.elevation.assign(n, 200.0F);
    c.flowDir.assign(n, 5);
    c.flowAcc.assign(n, 1);
    c.riverNum.assign(n, 1);
    const std::int32_t stem = rows / 2;
    // D8 codes: 1 north, 2 north-east, 3 east, 4 south-east, 5 south, then clockwise on.
    for (std::int32_t row = 1; row < rows - 1; ++row) {
        for (std::int32_t col = 1; col < cols - 1; ++col) {
            const std::int32_t fromStem = row < stem ? stem - row : row - stem;
            c.elevation[at(row, col, cols)] =
                50.0F + 3.0F * static_cast<float>(fromStem) + 0.5F * static_cast<float>(cols - col);
            const bool side = col % 2 == 1 && col + 1 < cols - 1;
            std::int32_t dir = 3;
            if (row < stem) {
                dir = side ? 4 : 5;
            } else if (row > stem) {
                dir = side ? 2 : 1;
            }
            c.flowDir[at(row, col, cols)] = dir;
        }
    }
    countAccumulation(c);
    c.rainCols = 6;
    c.rainRows = 3;
    c.timeStep = 600;
    c.rain = changingRain;
    return c;
}

SimCase inconsistentBranchingCase() {
    SimCase c = branchingCase(11, 24);
    const std::int32_t stem = c.studyRows / 2;
    for (std::int32_t col = 2; col < c.studyCols - 1; col += 3) {
        auto& acc = c.flowAcc[at(stem, col, c.studyCols)];
        acc = std::max(1, acc / 4);
    }
    return c;
}

std::unique_ptr<PlannedCase> planCase(const SimCase& c, runoff::Scheme scheme) {
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
                                         planned->rain, *p, scheme);
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

/// A random D8 forest on a rows x cols grid (border ring included): a few outlets on the
/// border, every interior cell attached to a random neighbour already attached, elevations
/// rising upstream by random drops (some of them none, at the slope floor), a river number a
/// tree and a one-cell river inside the first tree, random rain on every cell.
SimCase randomBasin(unsigned seed, std::int32_t rows, std::int32_t cols) {
    std::mt19937 random(seed);
    SimCase c;
    c.studyRows = rows;
    c.studyCols = cols;
    const std::int32_t count = rows * cols;
    const auto n = static_cast<std::size_t>(count);
    const auto at = [cols](std::int32_t r, std::int32_t k) {
        const std::int32_t i = r * cols + k;
        return static_cast<std::size_t>(i);
    };
    c.elevation.assign(n, 0.0F);
    c.flowDir.assign(n, 0);
    c.flowAcc.assign(n, 0);
    c.riverNum.assign(n, -1);
    std::vector<std::int32_t> tree(n, -1);
    std::vector<std::size_t> attached;
    // Outlets: interior cells of the first interior row draining north into the border.
    const std::int32_t outlets = 1 + static_cast<std::int32_t>(random() % 3);
    for (std::int32_t t = 0; t < outlets; ++t) {
        const std::size_t i = at(1, 1 + (t * (cols - 2)) / outlets);
        c.flowDir[i] = 1;
        c.elevation[i] = 1.0F;
        tree[i] = t;
        attached.push_back(i);
    }
    std::uniform_real_distribution<float> drop(0.0F, 30.0F);
    const std::int32_t interior = (rows - 2) * (cols - 2);
    while (attached.size() < static_cast<std::size_t>(interior)) {
        const std::size_t from = attached[random() % attached.size()];
        const auto r = static_cast<std::int32_t>(from) / cols;
        const auto k = static_cast<std::int32_t>(from) % cols;
        const auto dir = static_cast<std::int32_t>(1 + random() % 8);
        const D8Offset o = kD8Offsets[static_cast<std::size_t>(dir)];
        const std::int32_t r2 = r + o.row;
        const std::int32_t k2 = k + o.column;
        if (r2 <= 0 || r2 >= rows - 1 || k2 <= 0 || k2 >= cols - 1 || tree[at(r2, k2)] >= 0) {
            continue;
        }
        const std::size_t i = at(r2, k2);
        c.flowDir[i] = 1 + (dir + 3) % 8;  // back towards `from`
        c.elevation[i] = c.elevation[from] + (random() % 4 == 0 ? 0.0F : drop(random));
        tree[i] = tree[from];
        c.riverNum[i] = tree[i] + 1;
        attached.push_back(i);
    }
    for (std::size_t t = 0; t < static_cast<std::size_t>(outlets); ++t) {
        c.riverNum[attached[t]] = static_cast<std::int32_t>(t) + 1;
    }
    // One cell halfway up the first tree becomes a river of its own: it takes water in from
    // the first river and gives it back.
    for (std::size_t k = attached.size() / 2; k < attached.size(); ++k) {
        if (tree[attached[k]] == 0) {
            c.riverNum[attached[k]] = outlets + 1;
            break;
        }
    }
    countAccumulation(c);
    c.riverList.clear();
    for (std::int32_t river = 1; river <= outlets + 1; ++river) {
        c.riverList += std::to_string(river) + " 0 0 0 0 0 0.0 0.0\n";
    }
    putRainPointOnEveryCell(c);
    const std::size_t hours = 24U * n;
    std::vector<float> rain(hours);
    for (float& v : rain) {
        v = random() % 3 == 0 ? 0.0F : drop(random) * 2.0F;
    }
    c.rain = [rain, n, cols](int, int hourIndex, int row, int col) {
        const int cell = row * cols + col;
        return rain[static_cast<std::size_t>(hourIndex) * n + static_cast<std::size_t>(cell)];
    };
    c.channelArea = 4;
    return c;
}

}  // namespace hydro::test
