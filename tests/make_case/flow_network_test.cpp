// Depression filling, directions, accumulation and river numbers on hand-drawn DEMs and on
// random fractal DEMs.

#include "make_case/flow_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <queue>

#include "case/grid_cell.h"
#include "make_case/synthetic_dem.h"

namespace hydro::make_case {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

Terrain terrainOf(std::int32_t rows, std::int32_t cols, std::vector<float> northFirst,
                  double southDeg = 35.0) {
    Terrain t;
    t.gridSpec =
        GridSpec{135 * 120, static_cast<std::int64_t>(std::llround(southDeg * 120)), cols, rows};
    t.elevation = std::move(northFirst);
    markOutside(t);
    return t;
}

float latOf(const Terrain& t) {
    return cornerText(t.gridSpec).latF;
}

/// The cell a path from `cell` ends on (the last cell before the water leaves the grid), and
/// the number of steps; -1 steps for a path that does not end within the cell count.
std::pair<std::int32_t, std::int32_t> pathEnd(const FlowNetwork& net, std::int32_t cell) {
    const auto n = static_cast<std::int32_t>(net.receiver.size());
    for (std::int32_t steps = 0; steps <= n; ++steps) {
        const std::int32_t next = net.receiver[static_cast<std::size_t>(cell)];
        if (next < 0) {
            return {cell, steps};
        }
        cell = next;
    }
    return {cell, -1};
}

TEST(Geometry, CellWidthIsTheSimulatorsOwn) {
    // The directions must measure cells as runoff_sim does: same single-precision steps.
    for (const float swLat : {35.0F, 34.2314F, -60.5F, 70.0F}) {
        for (std::int32_t row = 0; row < 4; ++row) {
            GridCell cell;
            cell.initGeometry(row, 0, 4, 1, swLat, 0.0F, 0.0F);
            EXPECT_EQ(simulatorCellWidth(row, 4, swLat), cell.cellWidth) << swLat << " " << row;
        }
    }
    EXPECT_NEAR(simulatorCellWidth(3, 4, 35.0F), 759.15222F, 1e-3F);
    EXPECT_NEAR(simulatorCellWidth(0, 4, 35.0F), 758.92041F, 1e-3F);
    EXPECT_NEAR(stepLengths(800.0F).diagonal, 1224.168109, 1e-6);
}

TEST(Geometry, GridInsideSnapsInwardWithTolerance) {
    const auto g = gridInside(-118.34296, 34.23139, -117.95508, 34.40531);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->westCells, -14201);  // -118.341666...
    EXPECT_EQ(g->southCells, 4108);   // 34.233333...
    EXPECT_EQ(g->cols, 46);
    EXPECT_EQ(g->rows, 20);
    // An origin 1.7e-10 degrees off a 30" edge stays on it.
    const auto exact = gridInside(10.0 + 1.7e-10, 20.0 - 1.7e-10, 11.0, 21.0);
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->westCells, 1200);
    EXPECT_EQ(exact->southCells, 2400);
    EXPECT_EQ(exact->cols, 120);
    // Across the antimeridian the east edge lies beyond 180 degrees.
    const auto across = gridInside(179.5, 10.0, -179.5, 10.5);
    ASSERT_TRUE(across);
    EXPECT_EQ(across->westCells, 179 * 120 + 60);
    EXPECT_EQ(across->cols, 120);
    EXPECT_FALSE(gridInside(10.001, 20.0, 10.005, 21.0));  // narrower than one cell
    EXPECT_FALSE(gridInside(-7e16, 20.0, 7e16, 21.0));     // whole cells would overflow
}

TEST(Geometry, GridsBeyondAPoleOrTheMemoryCannotMakeACase) {
    constexpr std::int64_t kAny = std::numeric_limits<std::int64_t>::max();
    // The whole globe fits, given the memory.
    const GridSpec world{-21600, -10800, 43200, 21600};
    EXPECT_FALSE(gridUnfit(world, kAny));
    const auto small = gridUnfit(world, std::int64_t{8'000'000'000});
    ASSERT_TRUE(small);
    EXPECT_NE(small->find("the grid of 43200 x 21600 cells needs about 29.9 GB (32 bytes a cell), "
                          "more than the 8 GB of memory here"),
              std::string::npos)
        << *small;
    const auto numbered = gridUnfit(GridSpec{0, -10800, 100'000, 21'000}, kAny);
    ASSERT_TRUE(numbered);
    EXPECT_NE(numbered->find("at most 2000000000 cells"), std::string::npos) << *numbered;
    // 89.8 degrees in single precision and 24 rows end beyond 90; 23 rows do not.
    const auto pole = gridUnfit(GridSpec{0, 10776, 40, 24}, kAny);
    ASSERT_TRUE(pole);
    EXPECT_NE(pole->find("runs from latitude 89.8 to 90, to or beyond a pole"), std::string::npos)
        << *pole;
    EXPECT_FALSE(gridUnfit(GridSpec{0, 10776, 40, 23}, kAny));
}

TEST(Conditioning, PitIsFilledToItsSpillAndDrainsOut) {
    Terrain t = terrainOf(5, 5,
                          {
                              20, 20, 20, 20, 20,  //
                              20, 12, 12, 12, 20,  //
                              20, 12, 3,  12, 8,   //
                              20, 12, 12, 12, 20,  //
                              20, 20, 20, 20, 20,  //
                          });
    const FlowNetwork net = conditionTerrain(t, latOf(t));
    // The pit rises to the level of its rim: its spill is over the rim, at 12.
    EXPECT_EQ(t.elevation[12], 12.0F);
    EXPECT_EQ(net.raisedCells, 1);
    EXPECT_EQ(net.largestRaise, 9.0F);
    // (2,3) falls east to the spill cell (2,4), which points off the east edge.
    EXPECT_EQ(net.flowDir[13], 3);
    EXPECT_EQ(net.flowDir[14], 3);
    // The rim falls inward everywhere, so the whole grid leaves through the spill.
    EXPECT_EQ(net.flowAcc[14], 25);
    for (std::int32_t i = 0; i < 25; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(pathEnd(net, i).second, -1);
    }
}

TEST(Conditioning, PlateauDrainsToItsOneSpillPoint) {
    Terrain t = terrainOf(5, 6,
                          {
                              20, 20, 20, 20, 20, 20,  //
                              20, 10, 10, 10, 10, 20,  //
                              20, 10, 10, 10, 10, 5,   //
                              20, 10, 10, 10, 10, 20,  //
                              20, 20, 20, 20, 20, 20,  //
                          });
    const FlowNetwork net = conditionTerrain(t, latOf(t));
    EXPECT_EQ(net.raisedCells, 0);
    const std::int32_t spill = 2 * 6 + 5;
    for (std::int32_t r = 1; r <= 3; ++r) {
        for (std::int32_t c = 1; c <= 4; ++c) {
            SCOPED_TRACE(::testing::Message() << r << "," << c);
            const std::int32_t i = r * 6 + c;
            EXPECT_NE(net.flowDir[static_cast<std::size_t>(i)], 0);
            const auto [end, steps] = pathEnd(net, i);
            EXPECT_EQ(end, spill);
            // Every step of a flat path heads for the spill: no detours.
            EXPECT_LE(steps, 6 - c + 1);
        }
    }
    EXPECT_EQ(net.flowAcc[static_cast<std::size_t>(spill)], 30);
}

TEST(Conditioning, ClosedBasinIsFilledToItsRim) {
    Terrain t = terrainOf(5, 5,
                          {
                              20, 20, 15, 20, 20,  //
                              20, 5,  6,  5,  20,  //
                              20, 4,  2,  4,  20,  //
                              20, 5,  6,  5,  20,  //
                              20, 20, 20, 20, 20,  //
                          });
    const FlowNetwork net = conditionTerrain(t, latOf(t));
    for (std::int32_t r = 1; r <= 3; ++r) {
        for (std::int32_t c = 1; c <= 3; ++c) {
            SCOPED_TRACE(::testing::Message() << r << "," << c);
            const auto i = static_cast<std::size_t>(r * 5 + c);
            EXPECT_EQ(t.elevation[i], 15.0F);
            EXPECT_EQ(pathEnd(net, static_cast<std::int32_t>(i)).first, 2);
        }
    }
    EXPECT_EQ(net.raisedCells, 9);
    EXPECT_EQ(net.largestRaise, 13.0F);
    EXPECT_EQ(net.flowDir[2], 1);  // the spill leaves the north edge
    EXPECT_EQ(net.flowAcc[2], 25);
}

TEST(Conditioning, NoDataHolesAndCoastTakeTheWaterOut) {
    // Column 0 is sea; (2,3) a hole in the DEM.
    Terrain t = terrainOf(5, 6,
                          {
                              kNaN, 9, 9, 9,    9, 9,  //
                              kNaN, 5, 8, 8,    8, 9,  //
                              kNaN, 5, 7, kNaN, 8, 9,  //
                              kNaN, 5, 8, 8,    8, 9,  //
                              kNaN, 9, 9, 9,    9, 9,  //
                          });
    const FlowNetwork net = conditionTerrain(t, latOf(t));
    for (std::int32_t r = 0; r < 5; ++r) {
        SCOPED_TRACE(r);
        const auto sea = static_cast<std::size_t>(r * 6);
        EXPECT_EQ(net.flowDir[sea], 0);
        EXPECT_EQ(net.flowAcc[sea], 0);
        EXPECT_TRUE(std::isfinite(t.elevation[sea]));
    }
    // Outside cells take the elevation of their lowest inside neighbour.
    EXPECT_EQ(t.elevation[0], 5.0F);
    EXPECT_EQ(t.elevation[2 * 6 + 3], 7.0F);
    // A coast cell with no lower neighbour drains into its first sea neighbour in code order
    // (here south-west); (2,2) has (2,1) lower and falls west to it.
    EXPECT_EQ(net.flowDir[6 + 1], 6);
    EXPECT_EQ(net.receiver[6 + 1], -1);
    EXPECT_EQ(net.flowDir[2 * 6 + 2], 7);
    // The cells around the hole at 8 have lower inside neighbours (7 and 5) or flow into it.
    const std::int32_t hole = 2 * 6 + 3;
    EXPECT_EQ(net.receiver[static_cast<std::size_t>(hole)], -1);
    for (std::int32_t i = 0; i < 30; ++i) {
        EXPECT_NE(net.receiver[static_cast<std::size_t>(i)], hole) << i;
        if (t.outside[static_cast<std::size_t>(i)] == 0) {
            EXPECT_NE(pathEnd(net, i).second, -1) << i;
        }
    }
    EXPECT_EQ(net.order.size(), 30U - 6U);
}

TEST(Directions, HighLatitudeNarrowsTheEastWestStep) {
    // The centre falls 10 m to the north and 4 m to the east. At 70 degrees a cell is about
    // 317 m wide, so the east step is the steeper; at the equator the north one is.
    const std::vector<float> dem{
        30, 10, 30,  //
        30, 20, 16,  //
        30, 30, 30,  //
    };
    Terrain polar = terrainOf(3, 3, dem, 70.0);
    EXPECT_EQ(conditionTerrain(polar, latOf(polar)).flowDir[4], 3);
    Terrain tropic = terrainOf(3, 3, dem, 0.0);
    EXPECT_EQ(conditionTerrain(tropic, latOf(tropic)).flowDir[4], 1);
}

TEST(Rivers, BorderOutletsNumberedByDecreasingSize) {
    // A large valley leaving the west edge, a small one leaving the east edge.
    Terrain t = terrainOf(5, 7,
                          {
                              30, 30, 30, 30, 30, 30, 30,  //
                              30, 20, 21, 22, 23, 24, 30,  //
                              10, 19, 20, 21, 22, 15, 12,  //
                              30, 20, 21, 22, 23, 24, 30,  //
                              30, 30, 30, 30, 30, 30, 30,  //
                          });
    const FlowNetwork net = conditionTerrain(t, latOf(t));
    const auto outlets = terminalOutlets(t.outside, net.receiver, net.flowAcc, 3);
    ASSERT_EQ(outlets.size(), 2U);
    EXPECT_EQ(outlets[0], 2 * 7);
    EXPECT_EQ(outlets[1], 2 * 7 + 6);
    EXPECT_GT(net.flowAcc[14], net.flowAcc[20]);
    std::vector<std::pair<std::int32_t, std::int32_t>> numbered{{outlets[0], 1}, {outlets[1], 2}};
    const auto river = labelRivers(net.receiver, net.order, numbered);
    EXPECT_EQ(river[2 * 7 + 2], 1);
    EXPECT_EQ(river[2 * 7 + 5], 2);
    // Every rim cell falls inward: the two basins hold the whole grid.
    EXPECT_EQ(net.flowAcc[14] + net.flowAcc[20], 35);
    // A threshold above the small basin leaves only river 1.
    EXPECT_EQ(terminalOutlets(t.outside, net.receiver, net.flowAcc, net.flowAcc[20] + 1).size(),
              1U);
}

/// Priority-Flood in its plainest form: the reference for the filled surface.
std::vector<float> referenceFill(const Terrain& t) {
    const GridSpec& s = t.gridSpec;
    std::vector<float> z = t.elevation;
    std::vector<char> closed(z.size(), 0);
    using Item = std::pair<float, std::int32_t>;
    std::priority_queue<Item, std::vector<Item>, std::greater<>> open;
    for (std::int32_t r = 0; r < s.rows; ++r) {
        for (std::int32_t c = 0; c < s.cols; ++c) {
            const std::int32_t i = r * s.cols + c;
            if (t.outside[static_cast<std::size_t>(i)] != 0) {
                continue;
            }
            bool seed = r == 0 || c == 0 || r == s.rows - 1 || c == s.cols - 1;
            for (std::size_t k = 1; k <= 8 && !seed; ++k) {
                seed = t.outside[static_cast<std::size_t>((r + kD8[k].row) * s.cols + c
                                                          + kD8[k].column)]
                       != 0;
            }
            if (seed) {
                closed[static_cast<std::size_t>(i)] = 1;
                open.emplace(z[static_cast<std::size_t>(i)], i);
            }
        }
    }
    while (!open.empty()) {
        const auto [level, i] = open.top();
        open.pop();
        for (std::size_t k = 1; k <= 8; ++k) {
            const std::int32_t r = i / s.cols + kD8[k].row;
            const std::int32_t c = i % s.cols + kD8[k].column;
            if (r < 0 || c < 0 || r >= s.rows || c >= s.cols) {
                continue;
            }
            const auto j = static_cast<std::size_t>(r * s.cols + c);
            if (closed[j] != 0 || t.outside[j] != 0) {
                continue;
            }
            closed[j] = 1;
            z[j] = std::max(z[j], level);
            open.emplace(z[j], static_cast<std::int32_t>(j));
        }
    }
    return z;
}

TEST(FractalProperties, FillDirectionsAccumulationAndRivers) {
    for (const std::uint64_t seed : {1U, 2U, 3U, 4U}) {
        SCOPED_TRACE(seed);
        Terrain t = fractalTerrain(GridSpec{10 * 120, 60 * 120, 70, 50}, seed);
        // Some holes and a strip of sea in two of the DEMs.
        if (seed % 2 == 0) {
            for (std::size_t i = 0; i < t.elevation.size(); i += 97) {
                t.elevation[i] = kNaN;
            }
            for (std::size_t r = 0; r < 50; ++r) {
                t.elevation[r * 70 + 69] = kNaN;
            }
        }
        markOutside(t);
        const Terrain dem = t;
        const std::vector<float> expected = referenceFill(t);
        const FlowNetwork net = conditionTerrain(t, latOf(t));
        const auto n = static_cast<std::int32_t>(t.elevation.size());
        std::int32_t inside = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            const auto u = static_cast<std::size_t>(i);
            if (dem.outside[u] != 0) {
                continue;
            }
            ++inside;
            ASSERT_EQ(t.elevation[u], expected[u]) << "filled surface at " << i;
            ASSERT_GE(t.elevation[u], dem.elevation[u]);
            ASSERT_NE(pathEnd(net, i).second, -1) << "no outlet from " << i;
            const std::int32_t d = net.receiver[u];
            if (d >= 0) {
                ASSERT_LE(t.elevation[static_cast<std::size_t>(d)], t.elevation[u]);
            }
        }
        EXPECT_GT(net.raisedCells, 0);
        // The order holds every inside cell once, each after its receiver; no loop.
        ASSERT_EQ(static_cast<std::int32_t>(net.order.size()), inside);
        std::vector<std::int32_t> position(static_cast<std::size_t>(n), -1);
        for (std::size_t k = 0; k < net.order.size(); ++k) {
            position[static_cast<std::size_t>(net.order[k])] = static_cast<std::int32_t>(k);
        }
        for (std::int32_t i = 0; i < n; ++i) {
            const std::int32_t d = net.receiver[static_cast<std::size_t>(i)];
            if (d >= 0) {
                ASSERT_LT(position[static_cast<std::size_t>(d)],
                          position[static_cast<std::size_t>(i)]);
            }
        }
        EXPECT_EQ(orderFromDirections(t.outside, net.receiver).loopCell, -1);
        // Accumulation against a recount along every path.
        std::vector<std::int32_t> recount(static_cast<std::size_t>(n), 0);
        for (std::int32_t i = 0; i < n; ++i) {
            for (std::int32_t c = t.outside[static_cast<std::size_t>(i)] != 0 ? -1 : i; c >= 0;
                 c = net.receiver[static_cast<std::size_t>(c)]) {
                ++recount[static_cast<std::size_t>(c)];
            }
        }
        ASSERT_EQ(net.flowAcc, recount);
        // River numbers stay constant along paths, except across a nested outlet: take the
        // largest border basin and, as a nested outlet, a cell half-way up its longest branch.
        const auto outlets = terminalOutlets(t.outside, net.receiver, net.flowAcc, 1);
        ASSERT_FALSE(outlets.empty());
        std::int32_t nested = -1;
        for (std::int32_t i = 0; i < n; ++i) {
            if (pathEnd(net, i).first == outlets[0] && i != outlets[0]
                && net.flowAcc[static_cast<std::size_t>(i)] * 2
                       <= net.flowAcc[static_cast<std::size_t>(outlets[0])]
                && (nested < 0
                    || net.flowAcc[static_cast<std::size_t>(i)]
                           > net.flowAcc[static_cast<std::size_t>(nested)])) {
                nested = i;
            }
        }
        ASSERT_GE(nested, 0);
        std::vector<std::pair<std::int32_t, std::int32_t>> numbered{{outlets[0], 1}, {nested, 2}};
        const auto river = labelRivers(net.receiver, net.order, numbered);
        std::int32_t ones = 0;
        std::int32_t twos = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            const auto u = static_cast<std::size_t>(i);
            ones += river[u] == 1 ? 1 : 0;
            twos += river[u] == 2 ? 1 : 0;
            const std::int32_t d = net.receiver[u];
            if (d >= 0 && d != nested && i != nested) {
                ASSERT_EQ(river[u], river[static_cast<std::size_t>(d)]) << i;
            }
            if (d == nested) {
                ASSERT_EQ(river[u], 2);
            }
        }
        EXPECT_EQ(twos, net.flowAcc[static_cast<std::size_t>(nested)]);
        EXPECT_EQ(ones + twos, net.flowAcc[static_cast<std::size_t>(outlets[0])]);
        EXPECT_EQ(river[static_cast<std::size_t>(net.receiver[static_cast<std::size_t>(nested)])],
                  1);
    }
}

TEST(GivenDirections, LoopIsFound) {
    // Four cells turning in a square in the middle of a 4 x 4 grid.
    std::vector<std::int8_t> dir{
        1, 1, 1, 1,  //
        7, 3, 5, 3,  //
        7, 1, 7, 3,  //
        5, 5, 5, 5,  //
    };
    const GridSpec gridSpec{0, 0, 4, 4};
    const std::vector<std::uint8_t> outside(16, 0);
    const auto rec = receivers(gridSpec, outside, dir);
    const OrderResult r = orderFromDirections(outside, rec);
    ASSERT_GE(r.loopCell, 0);
    EXPECT_TRUE(r.loopCell == 5 || r.loopCell == 6 || r.loopCell == 9 || r.loopCell == 10);
    dir[5] = 7;  // break it: (1,1) now leaves west to the border
    const auto fixedRec = receivers(gridSpec, outside, dir);
    const OrderResult ok = orderFromDirections(outside, fixedRec);
    EXPECT_EQ(ok.loopCell, -1);
    EXPECT_EQ(ok.order.size(), 16U);
    EXPECT_EQ(accumulateFlow(fixedRec, ok.order)[4], 5);  // (1,0) gets (1,1), (2,1)...(1,2)
}

}  // namespace
}  // namespace hydro::make_case
