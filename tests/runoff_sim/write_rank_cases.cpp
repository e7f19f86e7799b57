// Writes the cases that the parallel runs are compared on into the folder named by the first
// argument, one folder each: several small rivers, one river with nearly all cells, and a
// messy basin (a cell with eight inflows inside a loop, accumulation that disagrees with the
// flow, a river list with empty lines and a river that is not listed).

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "tests/runoff_sim/engine_case.h"

namespace {

hydro::test::SimCase messyCase() {
    hydro::test::SimCase c;
    c.studyCols = 7;
    c.studyRows = 7;
    c.days = 2;
    c.timeStep = 300;
    c.elevation = {
        60, 60, 60, 60, 60, 60, 60,  //
        60, 40, 39, 38, 37, 36, 60,  //
        60, 35, 20, 19, 18, 34, 60,  //
        60, 33, 17, 10, 16, 32, 60,  //
        60, 31, 15, 14, 13, 30, 60,  //
        60, 29, 28, 27, 26, 25, 60,  //
        60, 60, 60, 60, 60, 60, 60,  //
    };
    // The centre's eight neighbours all drain into it; it drains north into one of them.
    c.flowDir = {
        5, 5, 5, 5, 5, 5, 5,  //
        5, 3, 3, 3, 3, 5, 5,  //
        5, 5, 4, 5, 6, 5, 5,  //
        5, 5, 3, 1, 7, 5, 5,  //
        5, 5, 2, 1, 8, 5, 5,  //
        5, 3, 3, 3, 3, 3, 5,  //
        5, 5, 5, 5, 5, 5, 5,  //
    };
    c.flowAcc = {
        1, 1, 1, 1,  1, 1, 1,  //
        1, 1, 2, 3,  4, 5, 1,  //
        1, 1, 1, 12, 1, 6, 1,  //
        1, 1, 1, 9,  1, 7, 1,  //
        1, 1, 1, 2,  1, 8, 1,  //
        1, 1, 2, 3,  4, 5, 1,  //
        1, 1, 1, 1,  1, 1, 1,  //
    };
    c.riverNum = std::vector<std::int32_t>(49, 1);
    for (std::size_t i = 35; i < 42; ++i) {
        c.riverNum[i] = 2;  // the southern row belongs to a river that is not listed
    }
    c.riverList = "\n1 0 0 0 0 0 0.0 0.0\n\n3 0 0 0 0 0 0.0 0.0\n\n";
    c.rain = [](int day, int h, int row, int col) {
        return static_cast<float>((day * 7 + h * 3 + row * 5 + col) % 11);
    };
    return c;
}

/// A branching river with nine tenths of the cells beside a few short ones: its tree is cut
/// between the ranks.
hydro::test::SimCase ninetyPercentCase() {
    hydro::test::SimCase c = hydro::test::branchingCase(13, 30);
    for (std::int32_t row = 1; row < c.studyRows - 1; ++row) {
        for (std::int32_t col = 1; col <= 3; ++col) {
            const auto i = static_cast<std::size_t>(row * c.studyCols + col);
            c.flowDir[i] = 5;
            c.riverNum[i] = 2;
        }
    }
    hydro::test::countAccumulation(c);
    c.riverList = "1 0 0 0 0 0 0.0 0.0\n2 0 0 0 0 0 0.0 0.0\n";
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: write_rank_cases <folder>\n";
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    hydro::test::forestCase(6).write(root / "small-rivers");
    // One river of 120 cells in a row: a single tree holds every cell.
    hydro::test::chainCase(120).write(root / "one-large-river");
    messyCase().write(root / "messy");
    ninetyPercentCase().write(root / "ninety-percent");
    hydro::test::inconsistentBranchingCase().write(root / "inconsistent");
    return 0;
}
