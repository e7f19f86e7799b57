// Every failure before the time loop: one line naming the file and what is wrong, exit status
// 1, and nothing in the output folder touched.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "runoff_sim/driver.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

namespace fs = std::filesystem;

std::string listing(const fs::path& dir) {
    std::string all;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        all += e.path().filename().string() + ":" + readText(e.path()) + "\n";
    }
    return all;
}

TEST(SimulationFailures, ReportedOnceAndOutputUntouched) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> spoil;
        std::string lastLine;
    };
    const auto grid = [](const char* name, std::vector<std::int32_t> values) {
        return [name, values](const fs::path& d) {
            writeGridFile(d / "topoData" / name, values, 5, 5);
        };
    };
    const Case cases[] = {
        {"no parameter file", [](const fs::path& d) { fs::remove(d / "param-event.dat"); },
         "param-event.dat cannot open."},
        {"a parameter out of range",
         [](const fs::path& d) {
             SimCase c = confluenceCase();
             c.timeStep = 0;
             writeText(d / "param-event.dat", c.parameterText());
         },
         "param-event.dat value 12 (finite difference time step in seconds) must be from 1 to "
         "3600: 0"},
        {"no river list", [](const fs::path& d) { fs::remove(d / "topoData/riverNumList.dat"); },
         "riverNumList.dat cannot open."},
        {"no elevation", [](const fs::path& d) { fs::remove(d / "topoData/modDem.bin"); },
         "modDem.bin cannot open."},
        {"no flow direction", [](const fs::path& d) { fs::remove(d / "topoData/flowDir.bin"); },
         "flowDir.bin cannot open."},
        {"no flow accumulation", [](const fs::path& d) { fs::remove(d / "topoData/flowAcc.bin"); },
         "flowAcc.bin cannot open."},
        {"no river numbers", [](const fs::path& d) { fs::remove(d / "topoData/riverNum.bin"); },
         "riverNum.bin cannot open."},
        {"short elevation",
         [](const fs::path& d) { writeFloats(d / "topoData/modDem.bin", std::vector<float>(3)); },
         "modDem.bin holds 3 values, but the study grid needs 25."},
        {"short accumulation",
         [](const fs::path& d) {
             writeInt32s(d / "topoData/flowAcc.bin", std::vector<std::int32_t>(20, 1));
         },
         "flowAcc.bin holds 20 values, but the study grid needs 25."},
        {"a flow direction outside 0..8",
         grid("flowDir.bin",
              {5, 5, 5, 5, 5, 5, 4, 5, 6, 5, 5, 4, 5, 6, 5, 5, 3, 5, 9, 5, 5, 5, 5, 5, 5}),
         "flowDir.bin has the flow direction 9 at column 4, row 2 (counted from 1 from the west "
         "and from the south), a river cell off the border; codes must be 0 to 8."},
        {"no rain file", [](const fs::path& d) { fs::remove(d / "input/rain.dat"); },
         "ROF file cannot open."},
        {"a rain file that ends early",
         [](const fs::path& d) {
             const std::string text = readText(d / "input/rain.dat");
             writeText(d / "input/rain.dat", text.substr(0, text.size() / 2));
         },
         "rain.dat ends early, in the block of day 1, hour 13."},
        {"a study grid too large to address",
         [](const fs::path& d) {
             SimCase c = confluenceCase();
             c.studyCols = 70000;
             c.studyRows = 70000;
             writeText(d / "param-event.dat", c.parameterText());
         },
         "param-event.dat: a study grid of 70000 x 70000 cells is too large (at most 2147483647 "
         "cells)."},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        TempDir dir;
        confluenceCase().write(dir.path());
        writeText(dir / "output/dischargeHourly.bin", "earlier results");
        k.spoil(dir.path());
        const std::string before = listing(dir / "output");
        std::ostringstream out;
        EXPECT_EQ(runoff::runRunoffSim(dir.path(), out), 1);
        std::string console = out.str();
        ASSERT_FALSE(console.empty());
        console.pop_back();
        EXPECT_EQ(console.substr(console.rfind('\n') + 1), k.lastLine);
        EXPECT_EQ(console.find("Runoff simulation starts."), std::string::npos);
        EXPECT_EQ(listing(dir / "output"), before);
    }
}

TEST(SimulationFailures, ARoutedCellFarFromEveryRainPoint) {
    TempDir dir;
    SimCase c = confluenceCase();
    c.rainLat0 = "1e30";  // every point placed at an infinite distance
    c.write(dir.path());
    std::ostringstream out;
    EXPECT_EQ(runoff::runRunoffSim(dir.path(), out), 1);
    EXPECT_NE(out.str().find("No rainfall point of the input data lies near the cell at column "),
              std::string::npos);
}

}  // namespace
}  // namespace hydro::test
