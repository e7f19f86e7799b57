// The colour scales, the choice of simulated cells, the relief and the basin rain.

#include "results_page/page_data.h"

#include <gtest/gtest.h>

#include <cmath>

#include "results/colour_scale.h"

namespace hydro::results_page {

using results::scaleIndex;
namespace {

TEST(ColourScales, LogarithmicScaleRunsFromSmallestPositiveToLargest) {
    EXPECT_EQ(logIndex(0.01F, 0.01F, 100.0F), 0);
    EXPECT_EQ(logIndex(100.0F, 0.01F, 100.0F), 255);
    // The geometric middle of the bounds lies half-way along the ramp.
    EXPECT_EQ(logIndex(1.0F, 0.01F, 100.0F), 127);
    EXPECT_EQ(logIndex(0.1F, 0.01F, 100.0F), 63);
    // Zero, values below the lower bound and above the upper one stay on the ramp's ends.
    EXPECT_EQ(logIndex(0.0F, 0.01F, 100.0F), 0);
    EXPECT_EQ(logIndex(0.001F, 0.01F, 100.0F), 0);
    EXPECT_EQ(logIndex(1000.0F, 0.01F, 100.0F), 255);
    // A scale without extent draws every value at one end instead of dividing by zero.
    EXPECT_EQ(logIndex(5.0F, 5.0F, 5.0F), 0);
    EXPECT_EQ(logIndex(std::nanf(""), 0.01F, 100.0F), 0);
}

TEST(ColourScales, SquareRootScaleIsTheMapsScaleClampedToItsBounds) {
    // The maps' own edge cases between 0 and 16.
    for (const auto& [v, index] : std::vector<std::pair<float, int>>{
             {0.0F, 0}, {1.0F, 63}, {4.0F, 127}, {9.0F, 191}, {16.0F, 255}}) {
        SCOPED_TRACE(v);
        EXPECT_EQ(sqrtIndex(v, 0.0F, 16.0F), index);
    }
    for (float v = 0.0F; v <= 16.0F; v += 0.37F) {
        EXPECT_EQ(sqrtIndex(v, 0.0F, 16.0F), scaleIndex(v, 0.0F, 16.0F));
    }
    // Outside the bounds the maps draw black or yellow; the page keeps the ramp's ends.
    EXPECT_EQ(sqrtIndex(1.0F, 2.0F, 16.0F), 0);
    EXPECT_EQ(sqrtIndex(17.0F, 0.0F, 16.0F), 255);
    EXPECT_EQ(sqrtIndex(3.0F, 3.0F, 3.0F), 0);
}

TEST(DischargeRange, KeepsTheSmallestPositiveApartFromZero) {
    DischargeRange r;
    EXPECT_TRUE(r.empty());
    for (const float v : {3.0F, 0.0F, 0.5F, 7.0F, 0.25F}) {
        r.add(v);
    }
    EXPECT_EQ(r.smallest, 0.0F);
    EXPECT_EQ(r.smallestPositive, 0.25F);
    EXPECT_EQ(r.largest, 7.0F);

    DischargeRange zeros;
    zeros.add(0.0F);
    EXPECT_EQ(zeros.smallestPositive, 0.0F);
}

/// A 4 x 3 grid (north row first) with river numbers and one listed river.
StudyGrid smallGrid(const std::vector<std::int32_t>& riverNum) {
    StudyGrid grid;
    grid.rows = 3;
    grid.cols = 4;
    grid.cells.resize(12);
    for (std::int32_t i = 0; i < 12; ++i) {
        GridCell& cell = grid.cells[static_cast<std::size_t>(i)];
        cell.initGeometry(grid.rowOf(i), grid.columnOf(i), 3, 4, 35.0F, 135.0F, 0.0F);
        cell.riverNum = riverNum[static_cast<std::size_t>(i)];
        cell.flowAcc = 1;
    }
    return grid;
}

TEST(SimulatedCells, AreTheInteriorCellsOfListedRivers) {
    const StudyGrid grid = smallGrid({
        1, 1, 1, 1,  //
        1, 1, 2, 1,  //
        1, 1, 1, 1,  //
    });
    const RiverList rivers({1});
    // Row 1 is the only interior row; its column 2 lies on river 2, which is not listed.
    EXPECT_EQ(simulatedCells(grid, rivers), (std::vector<CellIndex>{5}));
}

TEST(Hillshade, LightsSlopesFacingTheNorthWest) {
    StudyGrid grid = smallGrid(std::vector<std::int32_t>(12, -1));
    std::vector<std::uint8_t> flat = hillshade(grid, 1.0);
    // A level grid is lit at the sun's height: sin(45 degrees) of full white.
    for (const std::uint8_t g : flat) {
        EXPECT_EQ(g, 180);
    }
    // Rising to the south-east: the slope faces the light and is brighter than level ground.
    for (std::int32_t i = 0; i < 12; ++i) {
        grid.cells[static_cast<std::size_t>(i)].elevation =
            static_cast<float>(grid.rowOf(i) + grid.columnOf(i)) * 300.0F;
    }
    const std::vector<std::uint8_t> facing = hillshade(grid, 1.0);
    EXPECT_GT(facing[5], 180);
    // The same slope the other way round is darker.
    for (auto& cell : grid.cells) {
        cell.elevation = -cell.elevation;
    }
    EXPECT_LT(hillshade(grid, 1.0)[5], 180);
}

TEST(BasinRain, IsTheAreaWeightedMeanOfEachListedRiver) {
    StudyGrid grid = smallGrid({
        -1, -1, -1, -1,  //
        -1, 1, 2, -1,    //
        -1, -1, -1, -1,  //
    });
    // A rain grid of two points, west and east, each nearest to one of the two cells.
    RainGrid rain;
    rain.rows = 1;
    rain.cols = 2;
    rain.days = 1;
    rain.points.resize(2);
    const float lat = grid.cells[5].latSec / 3600.0F;
    rain.points[0].initRainCell(lat, grid.cells[5].lonSec / 3600.0F, 0, 0);
    rain.points[1].initRainCell(lat, grid.cells[6].lonSec / 3600.0F, 1, 0);
    rain.rain.assign(2 * 2 * 24, 0.0F);
    rain.rain[rain.rainIndex(0, 1, 3)] = 2.0F;
    rain.rain[rain.rainIndex(1, 1, 3)] = 6.0F;
    const BasinRain both = basinRainByRiver(grid, RiverList({1, 2}), rain);
    ASSERT_EQ(both.byRiver.size(), 2U);
    EXPECT_DOUBLE_EQ(both.byRiver.at(1)[3], 2.0);
    EXPECT_DOUBLE_EQ(both.byRiver.at(2)[3], 6.0);
    EXPECT_DOUBLE_EQ(both.byRiver.at(1)[4], 0.0);
    // Only listed rivers get a series.
    EXPECT_EQ(basinRainByRiver(grid, RiverList({2}), rain).byRiver.count(1), 0U);
}

}  // namespace
}  // namespace hydro::results_page
