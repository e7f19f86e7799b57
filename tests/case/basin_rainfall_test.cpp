// Basin rainfall worked out by hand on a few cells of different widths that take their rain
// from two rainfall points, one south and one north.

#include "case/basin_rainfall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace hydro {
namespace {

GridCell cellAt(float latDeg, float width, std::int32_t river, std::int32_t flowAcc,
                std::uint8_t edge = 0) {
    GridCell c;
    c.latSec = latDeg * 3600.0F;
    c.lonSec = 135.0F * 3600.0F;
    c.cellWidth = width;
    c.riverNum = river;
    c.flowAcc = flowAcc;
    c.isEdge = edge;
    return c;
}

/// One column of two points: the south one at 35.0, the north one at 35.1; two days.
RainGrid twoPoints() {
    EventParameters p;
    p.rainCols = 1;
    p.rainRows = 2;
    p.rainDx = 0.1F;
    p.rainDy = 0.1F;
    p.rainLon0 = 135.0F;
    p.rainLat0 = 35.0F;
    p.days = 2;
    return placeRainPoints(p);
}

TEST(BasinRainfall, AreaWeightedMeanOverTheRoutedCellsOfTheRiver) {
    RainGrid rain = twoPoints();
    const std::int32_t south = rain.index(0, 0);
    const std::int32_t north = rain.index(1, 0);
    rain.rain[rain.rainIndex(south, 1, 5)] = 4.0F;
    rain.rain[rain.rainIndex(north, 1, 5)] = 10.0F;
    rain.rain[rain.rainIndex(south, 2, 0)] = 1.0F;

    StudyGrid grid;
    grid.rows = 1;
    grid.cols = 6;
    grid.cells = {
        cellAt(35.02F, 800.0F, 2, 3),      // south point
        cellAt(35.03F, 600.0F, 2, 1),      // south point
        cellAt(35.09F, 200.0F, 2, 9),      // north point
        cellAt(35.09F, 5000.0F, 2, 9, 1),  // on the border: not routed
        cellAt(35.09F, 5000.0F, 2, 0),     // no accumulation: not routed
        cellAt(35.09F, 5000.0F, 3, 9),     // another river
    };
    const BasinRainfall b = basinRainfall(grid, rain, 2);
    ASSERT_EQ(b.mmPerHour.size(), 48U);
    EXPECT_EQ(b.cellCount, 3);
    EXPECT_EQ(b.unmatchedCell, kNoCell);
    // (800 * 4 + 600 * 4 + 200 * 10) / 1600; the plain mean of the cells would be 6.
    EXPECT_NEAR(b.mmPerHour[5], 4.75, 1e-12);
    // Day 2, first hour: (800 + 600) * 1 / 1600.
    EXPECT_NEAR(b.mmPerHour[24], 0.875, 1e-12);
    for (std::size_t n = 0; n < 48; ++n) {
        if (n != 5 && n != 24) {
            EXPECT_EQ(b.mmPerHour[n], 0.0) << "hour index " << n;
        }
    }
}

TEST(BasinRainfall, RiverWithoutRoutedCellsIsDry) {
    RainGrid rain = twoPoints();
    std::fill(rain.rain.begin(), rain.rain.end(), 3.0F);
    StudyGrid grid;
    grid.rows = 1;
    grid.cols = 2;
    grid.cells = {cellAt(35.0F, 900.0F, 4, 0), cellAt(35.0F, 900.0F, 4, 5, 1)};
    const BasinRainfall b = basinRainfall(grid, rain, 4);
    EXPECT_EQ(b.cellCount, 0);
    EXPECT_EQ(b.mmPerHour, std::vector<double>(48, 0.0));
}

TEST(BasinRainfall, CellWithoutARainfallPointIsReported) {
    EventParameters p;
    p.rainCols = 1;
    p.rainRows = 1;
    p.days = 1;
    RainGrid rain = placeRainPoints(p);
    // A point whose latitude is not a number is near nothing.
    rain.points[0].latDeg = std::numeric_limits<float>::quiet_NaN();
    StudyGrid grid;
    grid.rows = 1;
    grid.cols = 2;
    grid.cells = {cellAt(35.0F, 900.0F, 5, 0), cellAt(35.0F, 900.0F, 5, 2)};
    const BasinRainfall b = basinRainfall(grid, rain, 5);
    EXPECT_EQ(b.unmatchedCell, 1);
}

}  // namespace
}  // namespace hydro
