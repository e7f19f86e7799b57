#include "case/rain_grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "routing/rain_cell.h"
#include "tests/support/test_support.h"

namespace hydro {
namespace {

using runoff::lateralInflow;
using runoff::updateLateralInflow;

EventParameters rainParams(std::int32_t rows, std::int32_t cols, float lon0, float lat0,
                           float dx = 0.1F, float dy = 0.1F, std::int32_t days = 1) {
    EventParameters p;
    p.rainRows = rows;
    p.rainCols = cols;
    p.rainLon0 = lon0;
    p.rainLat0 = lat0;
    p.rainDx = dx;
    p.rainDy = dy;
    p.days = days;
    return p;
}

/// The nearest point by scanning every point, as the model states the search.
std::int32_t nearestByFullScan(float latSec, float lonSec, const RainGrid& g) {
    const double la = static_cast<double>(latSec) / 3600.0;
    const double lo = static_cast<double>(lonSec) / 3600.0;
    double best = 1e29;
    std::int32_t found = -1;
    for (std::int32_t r = 0; r < g.rows; ++r) {
        for (std::int32_t c = 0; c < g.cols; ++c) {
            const RainCell& pt = g.points[static_cast<std::size_t>(g.index(r, c))];
            const double dLat = la - static_cast<double>(pt.latDeg);
            const double dLon = lo - static_cast<double>(pt.lonDeg);
            const double d = std::sqrt(dLat * dLat + dLon * dLon);
            if (best > d) {
                best = d;
                found = g.index(r, c);
            }
        }
    }
    return found;
}

TEST(RainGrid, PlacementAndLongitudeWrap) {
    const RainGrid g = placeRainPoints(rainParams(2, 3, 359.85F, 10.0F));
    ASSERT_EQ(g.points.size(), 6U);
    const RainCell& sw = g.points[0];
    EXPECT_EQ(sw.latDeg, 10.0F);
    EXPECT_EQ(sw.colNo, 1);
    EXPECT_EQ(sw.rowNo, 1);
    // Column 1 lies at 359.95, stored at -0.05; row 1 at 10.1, computed in single precision.
    const RainCell& p11 = g.points[static_cast<std::size_t>(g.index(1, 1))];
    EXPECT_EQ(p11.latDeg, 1.0F * 0.1F + 10.0F);
    const float lon = 1.0F * 0.1F + 359.85F;
    EXPECT_EQ(p11.lonDeg, static_cast<float>(static_cast<double>(lon) - 360.0));
    EXPECT_NEAR(p11.lonDeg, -0.05F, 1e-4F);
    EXPECT_EQ(p11.colNo, 2);
    EXPECT_EQ(p11.rowNo, 2);

    RainCell at180;
    at180.initRainCell(0.0F, 180.0F, 0, 0);
    EXPECT_EQ(at180.lonDeg, 180.0F);
    // Every intensity starts at 0, day 0 included.
    EXPECT_EQ(g.rain.size(), 6U * 2U * 24U);
    for (float v : g.rain) {
        EXPECT_EQ(v, 0.0F);
    }
}

TEST(RainGrid, FileOrderIsNorthRowFirst) {
    test::TempDir dir;
    std::ostringstream text;
    for (int h = 0; h < 24; ++h) {
        text << "2000 1 1 " << h << " 0 0\n";
        for (int k = 0; k < 6; ++k) {
            text << h * 10 + k << ' ';
        }
        text << '\n';
    }
    text << "trailing data is ignored\n";
    test::writeText(dir / "rain.dat", text.str());
    RainGrid g = placeRainPoints(rainParams(2, 3, 0.0F, 0.0F));
    std::ostringstream out;
    ASSERT_TRUE(readRainfall(dir / "rain.dat", g, &out).ok());
    EXPECT_EQ(out.str(), "Read ./input/rain.dat\n");
    // Values of a block go to (1,0), (1,1), (1,2), (0,0), (0,1), (0,2).
    EXPECT_EQ(g.rainAt(g.index(1, 0), 1, 0), 0.0F);
    EXPECT_EQ(g.rainAt(g.index(1, 2), 1, 0), 2.0F);
    EXPECT_EQ(g.rainAt(g.index(0, 0), 1, 0), 3.0F);
    EXPECT_EQ(g.rainAt(g.index(0, 2), 1, 23), 235.0F);
    EXPECT_EQ(g.rainAt(g.index(0, 2), 0, 23), 0.0F);
}

TEST(RainGrid, BrokenRainFilesNameTheBlock) {
    const RainGrid base = placeRainPoints(rainParams(1, 2, 0.0F, 0.0F, 0.1F, 0.1F, 2));
    std::ostringstream good;
    for (int b = 0; b < 48; ++b) {
        good << "2000 1 1 1 0 0 1.5 2\n";
    }
    struct Case {
        std::string text;
        const char* message;
    };
    const std::string full = good.str();
    const Case cases[] = {
        {full.substr(0, full.size() - 4), "rain.dat ends early, in the block of day 2, hour 24.\n"},
        {"", "rain.dat ends early, in the block of day 1, hour 1.\n"},
        {"2000 1 1 1 0 0 1.5 2\n2000 1 1 2 0 0 x 2\n",
         "rain.dat holds \"x\" where a number belongs, in the block of day 1, hour 2.\n"},
        {"2000 1 1 1 0 0.5 1.5 2\n",
         "rain.dat holds \"0.5\" where a number belongs, in the block of day 1, hour 1.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        test::TempDir dir;
        test::writeText(dir / "rain.dat", c.text);
        RainGrid g = base;
        const auto read = readRainfall(dir / "rain.dat", g);
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().message + "\n", c.message);
    }
    test::TempDir dir;
    RainGrid g = base;
    EXPECT_EQ(readRainfall(dir / "missing.dat", g).error().message, "ROF file cannot open.");
    std::filesystem::create_directory(dir / "folder.dat");
    EXPECT_EQ(readRainfall(dir / "folder.dat", g).error().message, "ROF file cannot open.");
}

TEST(RainGrid, NearestPointTiesGoSouthThenWest) {
    // Points at 0 and 0.1 degrees both ways; a cell centre exactly between them.
    const RainGrid g = placeRainPoints(rainParams(2, 2, 0.0F, 0.0F, 0.5F, 0.5F));
    EXPECT_EQ(findNearestRainCell(900.0F, 900.0F, g), g.index(0, 0));  // equal to all four
    EXPECT_EQ(findNearestRainCell(1800.0F, 900.0F, g), g.index(1, 0));
    EXPECT_EQ(findNearestRainCell(900.0F, 1800.0F, g), g.index(0, 1));
    EXPECT_EQ(findNearestRainCell(1900.0F, 1900.0F, g), g.index(1, 1));
    // The cell's own longitude is not wrapped: 200 degrees is measured against -160 and 180.
    RainGrid w = placeRainPoints(rainParams(1, 2, 180.0F, 0.0F, 20.0F, 1.0F));
    EXPECT_NEAR(w.points[1].lonDeg, -160.0F, 1e-4F);
    EXPECT_EQ(findNearestRainCell(0.0F, 200.0F * 3600.0F, w), 0);
}

TEST(RainGrid, NearestPointEqualsTheFullScan) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> offset(-0.3F, 1.3F);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(trial);
        // Coarse spacings make exact and rounding ties common.
        const float step = trial % 2 == 0 ? 0.1F : 0.25F;
        const RainGrid g = placeRainPoints(rainParams(7, 9, 359.5F, 34.0F, step, step));
        for (int k = 0; k < 50; ++k) {
            const float latSec = (34.0F + offset(rng)) * 3600.0F;
            const float lonSec = (-0.5F + offset(rng)) * 3600.0F;
            ASSERT_EQ(findNearestRainCell(latSec, lonSec, g), nearestByFullScan(latSec, lonSec, g));
            // Centres on the lattice of half steps sit exactly between points.
            const float tieLat = (34.0F + step * static_cast<float>(k % 13) / 2.0F) * 3600.0F;
            const float tieLon = (-0.5F + step * static_cast<float>(k % 17) / 2.0F) * 3600.0F;
            ASSERT_EQ(findNearestRainCell(tieLat, tieLon, g), nearestByFullScan(tieLat, tieLon, g));
        }
    }
    const RainGrid far = placeRainPoints(rainParams(1, 1, 0.0F, 0.0F));
    EXPECT_EQ(findNearestRainCell(std::nanf(""), 0.0F, far), -1);
}

TEST(RainGrid, LateralInflowOfAnHour) {
    EXPECT_NEAR(lateralInflow(1.0F, 759.15F, 926.6), 0.00021088, 1e-8);
    RainGrid g = placeRainPoints(rainParams(1, 1, 0.0F, 0.0F, 0.1F, 0.1F, 2));
    for (int day = 1; day <= 2; ++day) {
        for (int h = 0; h < 24; ++h) {
            g.rain[g.rainIndex(0, day, h)] = static_cast<float>(day * 100 + h);
        }
    }
    const auto l11 = updateLateralInflow(g, 0, 1, 1, 800.0F, 926.6);
    EXPECT_EQ(l11.prev, 0.0);  // day 1, hour 1: the previous hour is day 0
    EXPECT_EQ(l11.now, lateralInflow(100.0F, 800.0F, 926.6));
    const auto l21 = updateLateralInflow(g, 0, 2, 1, 800.0F, 926.6);
    EXPECT_EQ(l21.prev, lateralInflow(123.0F, 800.0F, 926.6));  // day 1, hour index 23
    const auto l224 = updateLateralInflow(g, 0, 2, 24, 800.0F, 926.6);
    EXPECT_EQ(l224.prev, lateralInflow(222.0F, 800.0F, 926.6));
    EXPECT_EQ(l224.now, lateralInflow(223.0F, 800.0F, 926.6));
}

}  // namespace
}  // namespace hydro
