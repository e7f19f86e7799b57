#include "routing/processing_order.h"

#include <gtest/gtest.h>

namespace hydro::runoff {
namespace {

StudyGrid gridWithAcc(const std::vector<std::int32_t>& acc, std::int32_t rows, std::int32_t cols) {
    StudyGrid g{{rows, cols}, std::vector<GridCell>(acc.size())};
    for (std::size_t i = 0; i < acc.size(); ++i) {
        g.cells[i].flowAcc = acc[i];
        g.cells[i].riverNum = 1;
        const auto r = static_cast<std::int32_t>(i) / cols;
        const auto c = static_cast<std::int32_t>(i) % cols;
        g.cells[i].isEdge = (r == 0 || r == rows - 1 || c == 0 || c == cols - 1) ? 1 : 0;
    }
    return g;
}

TEST(ProcessingOrder, ClassesAreTheDistinctPositiveAccumulations) {
    EXPECT_EQ(collectAccClasses(gridWithAcc({5, 3, 3, 0, -1, 9}, 2, 3)),
              (std::vector<std::int32_t>{3, 5, 9}));
    EXPECT_EQ(collectAccClasses(gridWithAcc({4, 4, 4, 4}, 2, 2)), (std::vector<std::int32_t>{4}));
    EXPECT_TRUE(collectAccClasses(gridWithAcc({0, -2, 0, 0}, 2, 2)).empty());
}

TEST(ProcessingOrder, ClassThenScanOrderOfRoutedCells) {
    // 4 x 4: interior cells 5, 6, 9, 10 (north row first).
    StudyGrid g = gridWithAcc({1, 1, 1, 1,   //
                               1, 7, 2, 1,   //
                               1, 2, 0, 1,   //
                               1, 1, 1, 1},  //
                              4, 4);
    const RiverList rivers({1});
    EXPECT_EQ(orderRoutedCells(g, rivers), (std::vector<CellIndex>{6, 9, 5}));
    g.cells[9].riverNum = 2;  // a river that is not listed never runs
    EXPECT_EQ(orderRoutedCells(g, rivers), (std::vector<CellIndex>{6, 5}));
    EXPECT_TRUE(orderRoutedCells(g, RiverList{}).empty());
}

}  // namespace
}  // namespace hydro::runoff
