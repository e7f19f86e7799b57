// The outlet as the program reports it, on small cases read through the real grid readers: a
// 5 x 4 grid, so that a swapped or north-counted row shows in the numbers.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "hydrograph/app.h"
#include "tests/hydrograph/tool_case.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

Outcome runOutlet(const std::filesystem::path& dir) {
    return runTool({"outlet", dir.string()});
}

TEST(Outlet, LargestListedInteriorCellNumberedFromWestAndSouth) {
    TempDir dir;
    // The unlisted river (50) and the listed border cell (99) hold more.
    twoRiverCase({
                     1,  1, 1, 1,  1,  //
                     1,  5, 7, 50, 1,  //
                     99, 3, 6, 8,  1,  //
                     1,  1, 1, 1,  1,  //
                 })
        .write(dir.path());
    const Outcome r = runOutlet(dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "4 2 1 8\n");
}

TEST(Outlet, EqualAccumulationsKeepTheFirstInFileOrder) {
    {
        // South of north: the lower row comes first in the files.
        TempDir dir;
        twoRiverCase({
                         1, 1, 1, 1, 1,  //
                         1, 8, 2, 3, 1,  //
                         1, 3, 2, 8, 1,  //
                         1, 1, 1, 1, 1,  //
                     })
            .write(dir.path());
        EXPECT_EQ(runOutlet(dir.path()).out, "4 2 1 8\n");
    }
    {
        // Within a row, west before east.
        TempDir dir;
        twoRiverCase({
                         1, 1, 1, 1, 1,  //
                         1, 2, 2, 3, 1,  //
                         1, 8, 2, 8, 1,  //
                         1, 1, 1, 1, 1,  //
                     })
            .write(dir.path());
        EXPECT_EQ(runOutlet(dir.path()).out, "2 2 1 8\n");
    }
}

TEST(Outlet, NoListedRiverOffTheBorderIsOneLine) {
    TempDir dir;
    SimCase c = twoRiverCase(std::vector<std::int32_t>(20, 4));
    c.riverList = "3 0 0 0 0 0 0.0 0.0\n";
    c.write(dir.path());
    const Outcome r = runOutlet(dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "No cell off the border of riverNum.bin lies on a river listed in "
              "riverNumList.dat.\n");
}

TEST(Outlet, ReaderFailuresShowOnlyTheFailureLine) {
    const struct {
        const char* remove;
        const char* line;
    } cases[] = {
        {"param-event.dat", "param-event.dat cannot open.\n"},
        {"topoData/riverNumList.dat", "riverNumList.dat cannot open.\n"},
        {"topoData/flowAcc.bin", "flowAcc.bin cannot open.\n"},
        {"topoData/riverNum.bin", "riverNum.bin cannot open.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.remove);
        TempDir dir;
        twoRiverCase(std::vector<std::int32_t>(20, 4)).write(dir.path());
        std::filesystem::remove(dir / c.remove);
        const Outcome r = runOutlet(dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.line);
    }
    {
        TempDir dir;
        twoRiverCase(std::vector<std::int32_t>(20, 4)).write(dir.path());
        writeInt32s(dir / "topoData/flowAcc.bin", std::vector<std::int32_t>(7, 1));
        EXPECT_EQ(runOutlet(dir.path()).out,
                  "flowAcc.bin holds 7 values, but the study grid needs 20.\n");
    }
}

TEST(Outlet, WrongArgumentsShowTheUsage) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"outlet"}, {"outlet", "a", "b"}, {"plot", "a"}, {"draw", "a"}}) {
        std::ostringstream out;
        EXPECT_EQ(hydrograph::runOutletHydrograph(args, out), 1);
        const std::string text = out.str();
        EXPECT_EQ(text.rfind("Usage: outlet_hydrograph outlet CASE_DIR", 0), 0U) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    }
}

}  // namespace
}  // namespace hydro::test
