#include "case/drainage_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro {
namespace {

TEST(GridCell, GeometryInSinglePrecision) {
    GridCell south;
    south.initGeometry(3, 0, 4, 5, 35.0F, 135.0F, 12.5F);
    EXPECT_EQ(south.latSec, 126015.0F);
    EXPECT_NEAR(south.cellWidth, 759.15222F, 1e-4F);
    GridCell north;
    north.initGeometry(0, 4, 4, 5, 35.0F, 135.0F, 0.0F);
    EXPECT_EQ(north.latSec, 126105.0F);
    EXPECT_NEAR(north.cellWidth, 758.92041F, 1e-4F);
    // The width is cos of the degrees with pi as 3.14, narrowed, times 926.6f.
    const double angle = 126015.0 / 3600.0 / 180.0 * 3.14;
    EXPECT_EQ(south.cellWidth, static_cast<float>(std::cos(angle)) * 926.6F);
    EXPECT_EQ(south.lonSec, 135.0F * 3600.0F + 15.0F);
    EXPECT_EQ(north.lonSec, 135.0F * 3600.0F + 120.0F + 15.0F);
    EXPECT_EQ(south.elevation, 12.5F);
    EXPECT_EQ(south.isEdge, 1);
    EXPECT_EQ(north.isEdge, 1);
    GridCell inner;
    inner.initGeometry(1, 1, 4, 5, 35.0F, 135.0F, 0.0F);
    EXPECT_EQ(inner.isEdge, 0);
}

class D8Link : public ::testing::TestWithParam<std::pair<std::int32_t, CellIndex>> {};

TEST_P(D8Link, InteriorCellLinksToItsNeighbour) {
    StudyGrid grid{{3, 3}, std::vector<GridCell>(9)};
    GridCell& centre = grid[4];
    centre.resetLinks();
    centre.flowDir = GetParam().first;
    centre.linkDownstream(1, 1, grid);
    EXPECT_EQ(centre.downstream, GetParam().second);
}

// Cells of a 3 x 3 grid, north row first: 0 1 2 / 3 4 5 / 6 7 8.
INSTANTIATE_TEST_SUITE_P(AllCodes, D8Link,
                         ::testing::Values(std::pair{1, 1}, std::pair{2, 2}, std::pair{3, 5},
                                           std::pair{4, 8}, std::pair{5, 7}, std::pair{6, 6},
                                           std::pair{7, 3}, std::pair{8, 0}, std::pair{0, kNoCell},
                                           std::pair{9, kNoCell}, std::pair{-1, kNoCell},
                                           std::pair{10, kNoCell}));

TEST(GridCell, BorderCellsLinkOnlyInsideTheGrid) {
    StudyGrid grid{{3, 3}, std::vector<GridCell>(9)};
    GridCell& corner = grid[0];
    corner.resetLinks();
    corner.flowDir = 8;  // north-west of the north-west corner: outside
    corner.linkDownstream(0, 0, grid);
    EXPECT_EQ(corner.downstream, kNoCell);
    corner.flowDir = 4;
    corner.linkDownstream(0, 0, grid);
    EXPECT_EQ(corner.downstream, 4);
}

/// Writes a 3 x 3 or larger case's grids and runs the two reading passes.
struct Network {
    test::TempDir dir;
    StudyGrid grid;
    std::string console;
    bool ok = false;

    explicit Network(const test::SimCase& c) {
        c.write(dir.path());
        EventParameters p;
        p.studyRows = c.studyRows;
        p.studyCols = c.studyCols;
        p.swLat = 35.0F;
        p.swLon = 135.0F;
        auto network = buildDrainageNetwork(dir / "topoData", p);
        ok = network.ok();
        if (ok) {
            grid = std::move(*network);
        } else {
            console = network.error().message + "\n";
        }
    }
};

TEST(DrainageNetwork, FilesRunFromTheSouthWestToTheNorthEast) {
    test::SimCase c = test::confluenceCase();
    test::TempDir dir;
    c.write(dir.path());
    // Overwrite the elevations with their file positions.
    std::vector<float> filePositions(25);
    for (int k = 0; k < 25; ++k) {
        filePositions[static_cast<std::size_t>(k)] = static_cast<float>(k);
    }
    test::writeFloats(dir / "topoData/modDem.bin", filePositions);
    StudyGrid grid{{5, 5}, std::vector<GridCell>(25)};
    EventParameters p;
    p.studyRows = 5;
    p.studyCols = 5;
    ASSERT_TRUE(readElevation(dir / "topoData", p, grid).ok());
    EXPECT_EQ(grid[grid.index(4, 0)].elevation, 0.0F);   // first value: south-west
    EXPECT_EQ(grid[grid.index(0, 4)].elevation, 24.0F);  // last value: north-east
    EXPECT_EQ(grid[grid.index(3, 2)].elevation, 7.0F);
    EXPECT_EQ(grid.filePosition(grid.index(3, 2)), 7);
    EXPECT_EQ(grid[0].flowDir, kUnreadFlowDir);
}

TEST(DrainageNetwork, RegistrationOrderAndTheSevenSlotLimit) {
    // All eight neighbours of the centre of a 5 x 5 grid drain into it... but only interior
    // cells register, so use a 5 x 5 grid whose centre (2,2) has the interior ring around it.
    test::SimCase c = test::confluenceCase();
    c.flowDir = {
        5, 5, 5, 5, 5,  //
        5, 4, 5, 6, 5,  //
        5, 3, 0, 7, 5,  //
        5, 2, 1, 8, 5,  //
        5, 5, 5, 5, 5,  //
    };
    const Network n(c);
    ASSERT_TRUE(n.ok) << n.console;
    const GridCell& centre = n.grid[n.grid.index(2, 2)];
    // North-west, north, north-east, west, east, south-west, south; the south-east one is
    // registered last and dropped.
    const std::array<CellIndex, 7> expected{6, 7, 8, 11, 13, 16, 17};
    EXPECT_EQ(centre.upstream, expected);
    EXPECT_EQ(centre.upstreamCount, 7);
    EXPECT_EQ(centre.downstream, kNoCell);  // code 0 drains nowhere, but counts its upstream
    EXPECT_EQ(n.grid[18].upstreamCount, 0);
}

TEST(DrainageNetwork, CellsOffTheRiversKeepTheirValuesButNoLink) {
    test::SimCase c = test::confluenceCase();
    c.riverNum[12] = -1;  // the centre (2,2) lies outside every river
    const Network n(c);
    ASSERT_TRUE(n.ok);
    const GridCell& centre = n.grid[12];
    EXPECT_EQ(centre.downstream, kNoCell);
    EXPECT_EQ(centre.flowDir, 5);
    EXPECT_EQ(centre.flowAcc, 4);
    // River cells draining into it still register with it.
    EXPECT_EQ(centre.upstream[0], 6);
    EXPECT_EQ(centre.upstream[2], 8);
    // Border cells link downstream but never register: (4,2) receives only (3,2).
    EXPECT_EQ(n.grid[n.grid.index(3, 2)].downstream, n.grid.index(4, 2));
    EXPECT_EQ(n.grid[n.grid.index(4, 2)].upstream[0], n.grid.index(3, 2));
    EXPECT_EQ(n.grid[n.grid.index(4, 2)].upstream[1], kNoCell);
    EXPECT_EQ(n.grid[n.grid.index(0, 1)].downstream, n.grid.index(1, 1));
    EXPECT_EQ(n.grid[n.grid.index(1, 1)].upstream[0], kNoCell);
}

TEST(DrainageNetwork, MissingShortAndInvalidFilesAreReported) {
    struct Case {
        const char* what;
        std::function<void(const std::filesystem::path&)> spoil;
        std::string message;
    };
    const Case cases[] = {
        {"no elevation", [](const auto& d) { std::filesystem::remove(d / "topoData/modDem.bin"); },
         "modDem.bin cannot open.\n"},
        {"no accumulation",
         [](const auto& d) { std::filesystem::remove(d / "topoData/flowAcc.bin"); },
         "flowAcc.bin cannot open.\n"},
        {"short directions",
         [](const auto& d) {
             test::writeInt32s(d / "topoData/flowDir.bin", std::vector<std::int32_t>(24, 5));
         },
         "flowDir.bin holds 24 values, but the study grid needs 25.\n"},
        {"short river numbers",
         [](const auto& d) { test::writeText(d / "topoData/riverNum.bin", "abcdefg"); },
         "riverNum.bin holds 1 values, but the study grid needs 25.\n"},
        {"a code outside 0..8 on a routed cell",
         [](const auto& d) {
             test::SimCase c = test::confluenceCase();
             c.flowDir[8] = 11;  // (1,3): column 4, row 4 from the south
             test::writeGridFile(d / "topoData/flowDir.bin", c.flowDir, 5, 5);
         },
         "flowDir.bin has the flow direction 11 at column 4, row 4 (counted from 1 from the west "
         "and from the south), a river cell off the border; codes must be 0 to 8.\n"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        test::TempDir dir;
        test::confluenceCase().write(dir.path());
        k.spoil(dir.path());
        StudyGrid grid{{5, 5}, std::vector<GridCell>(25)};
        EventParameters p;
        p.studyRows = 5;
        p.studyCols = 5;
        Status read = readElevation(dir / "topoData", p, grid);
        if (read) {
            read = readTopology(dir / "topoData", grid);
        }
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().message + "\n", k.message);
    }
    // A border cell or a cell off the rivers may carry any code.
    test::SimCase c = test::confluenceCase();
    c.flowDir[0] = 99;
    c.flowDir[12] = -7;
    c.riverNum[12] = -1;
    const Network n(c);
    EXPECT_TRUE(n.ok) << n.console;
}

}  // namespace
}  // namespace hydro
