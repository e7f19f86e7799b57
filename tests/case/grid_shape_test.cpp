#include "case/grid_shape.h"

#include <gtest/gtest.h>

#include "case/grid_cell.h"

namespace hydro {
namespace {

TEST(GridShape, TheThreeNumberingsMeetInOnePlace) {
    const GridShape g{4, 3};  // 4 rows, 3 columns
    // Memory row 0 is the north row; files start with the south-west cell.
    EXPECT_EQ(g.indexOfFilePosition(0), g.index(3, 0));
    EXPECT_EQ(g.indexOfFilePosition(11), g.index(0, 2));
    for (CellIndex i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(g.indexOfFilePosition(g.filePosition(i)), i);
        // The user's column from the west and row from the south, both from 1.
        EXPECT_EQ(g.indexOfUser(g.userColumn(i), g.userRow(i)), i);
        // The user's row r is the r-th row a file stores.
        EXPECT_EQ(g.filePosition(i), std::int64_t{g.userRow(i) - 1} * 3 + g.userColumn(i) - 1);
    }
    EXPECT_EQ(g.indexOfUser(1, 1), g.index(3, 0));
    EXPECT_FALSE(g.indexOfUser(0, 1).has_value());
    EXPECT_FALSE(g.indexOfUser(4, 1).has_value());
    EXPECT_FALSE(g.indexOfUser(1, 5).has_value());
    // The south-west cell is column 1, row 1; the north-east one column 3, row 4.
    EXPECT_EQ(g.userCellName(g.index(3, 0)), "column 1, row 1");
    EXPECT_EQ(g.userCellName(g.index(0, 2)), "column 3, row 4");
    EXPECT_TRUE(g.isBorder(g.index(0, 1)));
    EXPECT_FALSE(g.isBorder(g.index(1, 1)));
}

TEST(GridCell, LatitudeOfAGridOfEightyMillionRows) {
    // 30 x (rows - 1 - row) overflowed 32 bits on a 1 x 80,000,000 grid, which passes the
    // size check; the offset is formed in 64 bits and rounded once to single precision.
    GridCell cell;
    cell.initGeometry(0, 0, 80000000, 1, -90.0F, 0.0F, 0.0F);
    EXPECT_EQ(cell.latSec, -90.0F * 3600.0F + static_cast<float>(2399999970LL) + 15.0F);
    // Small grids keep their worked values.
    cell.initGeometry(3, 0, 4, 1, 35.0F, 0.0F, 0.0F);
    EXPECT_EQ(cell.latSec, 126015.0F);
    EXPECT_FLOAT_EQ(cell.cellWidth, 759.15222F);
}

}  // namespace
}  // namespace hydro
