// Snapping gauges to the network on a small hand-drawn grid: largest accumulation against
// closest upstream area, ties in file order, a border cell and an unlisted river passed over,
// a gauge in the sea or off the grid refused; upstream areas along the flow directions.

#include "results/snapping.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case/basin_rainfall.h"
#include "case/case.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::results {
namespace {

constexpr std::int32_t kCols = 6;
constexpr std::int32_t kRows = 5;

/// 6 x 5 cells, north row first. Rivers 1 (columns 1 and 2) and 2 (column 4) are listed,
/// river 3 (column 3, rows 1-2) is not; the south border cell of column 1 is on river 1 with
/// the largest accumulation of all. Everything drains south, except (3,1), which drains east
/// into (3,2).
test::SimCase snapCase(std::vector<std::int32_t> flowAcc) {
    test::SimCase c;
    c.studyCols = kCols;
    c.studyRows = kRows;
    c.elevation.assign(kCols * kRows, 10.0F);
    c.flowDir = {
        5, 5, 5, 5, 5, 5,  //
        5, 5, 5, 5, 5, 5,  //
        5, 5, 5, 5, 5, 5,  //
        5, 3, 5, 5, 5, 5,  //
        0, 0, 0, 0, 0, 0,  //
    };
    c.riverNum = {
        -1, -1, -1, -1, -1, -1,  //
        -1, 1,  1,  3,  2,  -1,  //
        -1, 1,  1,  3,  2,  -1,  //
        -1, 1,  1,  -1, 2,  -1,  //
        -1, 1,  -1, -1, -1, -1,  //
    };
    c.flowAcc = std::move(flowAcc);
    c.riverList = "1 0 0 0 0 0 0.0 0.0\n2 0 0 0 0 0 0.0 0.0\n";
    return c;
}

std::vector<std::int32_t> defaultAcc() {
    return {
        1, 1,  1, 1, 1, 1,  //
        2, 2,  2, 2, 2, 2,  //
        3, 3,  3, 3, 3, 3,  //
        4, 4,  9, 4, 4, 4,  //
        5, 50, 5, 5, 5, 5,  //
    };
}

struct Network {
    EventParameters params;
    RiverList rivers;
    StudyGrid grid;
    std::vector<double> upstream;
};

Network load(const test::SimCase& c) {
    test::TempDir dir;
    c.write(dir.path());
    Network n;
    auto data = readCase(dir.path());
    EXPECT_TRUE(data.ok()) << data.error().message;
    n.params = data->params;
    n.rivers = data->rivers;
    n.grid = std::move(data->grid);
    n.upstream = upstreamAreasM2(n.grid);
    return n;
}

/// A gauge at the centre of the cell at memory row `row` (0 north) and `column`.
Gauge at(std::int32_t row, std::int32_t column, std::optional<double> areaKm2 = std::nullopt) {
    return Gauge{"g", 135.0 + (column + 0.5) / 120.0, 35.0 + (kRows - 1 - row + 0.5) / 120.0,
                 areaKm2, std::nullopt};
}

/// Memory row and column of the snapped cell.
std::pair<std::int32_t, std::int32_t> cellOf(const SnappedGauge& s) {
    return {kRows - s.row, s.column - 1};
}

TEST(Snapping, UpstreamAreasFollowTheFlowDirections) {
    const Network n = load(snapCase(defaultAcc()));
    const auto& g = n.grid;
    const auto area = [&](std::int32_t r, std::int32_t c) { return cellAreaM2(g[g.index(r, c)]); };
    const auto up = [&](std::int32_t r, std::int32_t c) {
        return n.upstream[static_cast<std::size_t>(g.index(r, c))];
    };
    // Column 2 down to row 3 gathers its own column and the whole of column 1 above row 4.
    double column1 = 0.0;
    double column2 = 0.0;
    for (std::int32_t r = 0; r <= 3; ++r) {
        column1 += area(r, 1);
        column2 += area(r, 2);
    }
    EXPECT_NEAR(up(3, 2), column1 + column2, 1e-6);
    EXPECT_NEAR(up(4, 2), column1 + column2 + area(4, 2), 1e-6);
    EXPECT_NEAR(up(2, 1), area(0, 1) + area(1, 1) + area(2, 1), 1e-6);
    // Nothing reaches the south border cell of column 1 any more: (3,1) drains east.
    EXPECT_NEAR(up(4, 1), area(4, 1), 1e-6);
    EXPECT_NEAR(up(0, 0), area(0, 0), 1e-6);
}

TEST(Snapping, LargestAccumulationOrClosestArea) {
    const Network n = load(snapCase(defaultAcc()));
    {
        SCOPED_TRACE("largest accumulation in the window");
        const auto s = snapGauge(at(2, 1), n.grid, n.rivers, n.params, n.upstream, 1);
        ASSERT_TRUE(s.ok()) << s.error().message;
        EXPECT_EQ(cellOf(*s), std::make_pair(3, 2));
        EXPECT_EQ(s->column, 3);
        EXPECT_EQ(s->row, 2);
        EXPECT_EQ(s->distance, 1);
        EXPECT_EQ(s->riverNum, 1);
        EXPECT_EQ(s->flowAcc, 9);
        EXPECT_DOUBLE_EQ(s->lon, static_cast<double>(135.0F) + 2.5 / 120.0);
        EXPECT_DOUBLE_EQ(s->lat, static_cast<double>(35.0F) + 1.5 / 120.0);
    }
    {
        SCOPED_TRACE("closest upstream area");
        const auto& g = n.grid;
        // (3,1) gathers four cells of column 1; every other candidate two, three or eight.
        const double target = n.upstream[static_cast<std::size_t>(g.index(3, 1))] / 1e6;
        const auto s = snapGauge(at(2, 1, target * 1.01), g, n.rivers, n.params, n.upstream, 1);
        ASSERT_TRUE(s.ok()) << s.error().message;
        EXPECT_EQ(cellOf(*s), std::make_pair(3, 1));
        EXPECT_DOUBLE_EQ(s->upstreamKm2, target);
    }
    {
        SCOPED_TRACE("radius 0 keeps the gauge's own cell");
        const auto s = snapGauge(at(2, 1), n.grid, n.rivers, n.params, n.upstream, 0);
        ASSERT_TRUE(s.ok());
        EXPECT_EQ(cellOf(*s), std::make_pair(2, 1));
        EXPECT_EQ(s->distance, 0);
    }
}

TEST(Snapping, AnAreaFarFromTheCellFoundIsWarnedAbout) {
    const Network n = load(snapCase(defaultAcc()));
    const auto& g = n.grid;
    // Only (3,2), two rows south of (1,1), gathers eight cells; every other candidate four at
    // most.
    const double eight = n.upstream[static_cast<std::size_t>(g.index(3, 2))] / 1e6;
    Gauge gauge = at(1, 1, eight);
    gauge.id = "maxau";
    const auto s = snapGauge(gauge, g, n.rivers, n.params, n.upstream, 0);
    ASSERT_TRUE(s.ok()) << s.error().message;
    EXPECT_TRUE(s->warning.starts_with("Warning: gauge maxau snapped to a cell draining "))
        << s->warning;
    EXPECT_NE(s->warning.find("off by more than 20 %) within --snap-radius 0; --snap-radius 2 "
                              "reaches a cell within 20 %."),
              std::string::npos)
        << s->warning;
    const auto wider = snapGauge(gauge, g, n.rivers, n.params, n.upstream, 2);
    ASSERT_TRUE(wider.ok());
    EXPECT_EQ(cellOf(*wider), std::make_pair(3, 2));
    EXPECT_EQ(wider->warning, "");
    // No cell of the grid comes near a far larger area; without an area nothing is judged.
    gauge.areaKm2 = eight * 100.0;
    const auto none = snapGauge(gauge, g, n.rivers, n.params, n.upstream, 2);
    EXPECT_NE(none->warning.find("no cell of the grid comes within 20 %"), std::string::npos)
        << none->warning;
    gauge.areaKm2.reset();
    EXPECT_EQ(snapGauge(gauge, g, n.rivers, n.params, n.upstream, 0)->warning, "");
}

TEST(Snapping, TiesGoToTheFirstCellInFileOrder) {
    {
        SCOPED_TRACE("same row: the western cell");
        std::vector<std::int32_t> acc = defaultAcc();
        acc[static_cast<std::size_t>(3 * kCols + 1)] = 9;
        const Network n = load(snapCase(acc));
        const auto s = snapGauge(at(2, 1), n.grid, n.rivers, n.params, n.upstream, 1);
        EXPECT_EQ(cellOf(*s), std::make_pair(3, 1));
    }
    {
        SCOPED_TRACE("different rows: the southern cell");
        std::vector<std::int32_t> acc = defaultAcc();
        acc[static_cast<std::size_t>(1 * kCols + 2)] = 9;
        const Network n = load(snapCase(acc));
        const auto s = snapGauge(at(2, 1), n.grid, n.rivers, n.params, n.upstream, 1);
        EXPECT_EQ(cellOf(*s), std::make_pair(3, 2));
    }
}

TEST(Snapping, BorderCellsAndUnlistedRiversArePassedOver) {
    const Network n = load(snapCase(defaultAcc()));
    // On the south border cell of river 1 (accumulation 50): it moves inward.
    const auto s = snapGauge(at(4, 1), n.grid, n.rivers, n.params, n.upstream, 1);
    ASSERT_TRUE(s.ok()) << s.error().message;
    EXPECT_EQ(cellOf(*s), std::make_pair(3, 2));
    // On river 3, which is not listed: rivers 1 and 2 beside it tie at accumulation 3 in row
    // 2, and the western one wins.
    const auto t = snapGauge(at(1, 3), n.grid, n.rivers, n.params, n.upstream, 1);
    ASSERT_TRUE(t.ok()) << t.error().message;
    EXPECT_EQ(cellOf(*t), std::make_pair(2, 2));
    EXPECT_EQ(t->riverNum, 1);
}

TEST(Snapping, GaugesOutOfReachAreRefused) {
    const Network n = load(snapCase(defaultAcc()));
    {
        SCOPED_TRACE("in the sea east of the rivers");
        Gauge g = at(2, 5);
        g.id = "sea";
        const auto s = snapGauge(g, n.grid, n.rivers, n.params, n.upstream, 0);
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(
            s.error().message.starts_with("Gauge sea has no cell of a listed river off the border "
                                          "within 0 cells of its position"))
            << s.error().message;
    }
    {
        SCOPED_TRACE("far off the grid");
        const Gauge g{"far", -40.0, 80.0, std::nullopt, std::nullopt};
        const auto s = snapGauge(g, n.grid, n.rivers, n.params, n.upstream, 1);
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error().message,
                  "Gauge far at longitude -40, latitude 80: this point lies outside the grid "
                  "(longitude 135 to 135.05, latitude 35 to 35.041666666666664).");
        EXPECT_FALSE(snapGauge(g, n.grid, n.rivers, n.params, n.upstream, 1000).ok());
    }
    {
        SCOPED_TRACE("latitude and longitude swapped");
        const Gauge g{"swap", 35.02, 135.02, std::nullopt, std::nullopt};
        const auto s = snapGauge(g, n.grid, n.rivers, n.params, n.upstream, 1);
        ASSERT_FALSE(s.ok());
        EXPECT_TRUE(s.error().message.ends_with("; latitude and longitude swapped?"))
            << s.error().message;
    }
    {
        SCOPED_TRACE("just off the west edge, within reach");
        const Gauge g{"edge", 135.0 - 0.5 / 120.0, 35.0 + 2.5 / 120.0, std::nullopt, std::nullopt};
        const auto s = snapGauge(g, n.grid, n.rivers, n.params, n.upstream, 2);
        ASSERT_TRUE(s.ok()) << s.error().message;
        EXPECT_EQ(s->distance, 2);
    }
}

}  // namespace
}  // namespace hydro::results
