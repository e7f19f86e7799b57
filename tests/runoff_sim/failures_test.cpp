// Every failure before the time loop: one line naming the file and what is wrong, exit status
// 1, and nothing in the output folder touched.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>

#include "runoff_sim/driver.h"
#include "runoff_sim/options.h"
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
        // Found by an adversarial campaign against the readers; each is pinned here.
        {"a folder in place of the elevation grid",
         [](const fs::path& d) {
             fs::remove(d / "topoData/modDem.bin");
             fs::create_directory(d / "topoData/modDem.bin");
         },
         "modDem.bin cannot open."},
        {"a folder in place of the river list",
         [](const fs::path& d) {
             fs::remove(d / "topoData/riverNumList.dat");
             fs::create_directory(d / "topoData/riverNumList.dat");
         },
         "riverNumList.dat cannot open."},
        {"a folder in place of the rain file",
         [](const fs::path& d) {
             fs::remove(d / "input/rain.dat");
             fs::create_directory(d / "input/rain.dat");
         },
         "ROF file cannot open."},
        {"a river list opened by a comment",
         [](const fs::path& d) {
             writeText(d / "topoData/riverNumList.dat", "# river list\n1 0 0 0 0 0 0 0\n");
         },
         "riverNumList.dat line 1 holds \"#\" where an integer belongs (value 1 of a record of "
         "six integers and two reals)."},
        {"a parameter file of NUL bytes, as /dev/zero reads",
         [](const fs::path& d) { writeText(d / "param-event.dat", std::string(100000, '\0')); },
         "param-event.dat value 1 (number of columns of the study area) is not an integer: "
         "\"\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\"
         "x00\\x00\\x00"
         "\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x0"
         "0\\x00\\x00"
         "...\""},
        {"a weight outside 0..1",
         [](const fs::path& d) {
             SimCase c = confluenceCase();
             c.weight = "-5";
             writeText(d / "param-event.dat", c.parameterText());
         },
         "param-event.dat value 14 (finite difference weight) must be from 0 to 1: -5"},
        {"a negative channel threshold",
         [](const fs::path& d) {
             SimCase c = confluenceCase();
             c.channelArea = -1;
             writeText(d / "param-event.dat", c.parameterText());
         },
         "param-event.dat value 17 (area to classify slope and channel) must be 0 or more: -1"},
        {"a study grid beyond the pole",
         [](const fs::path& d) {
             SimCase c = confluenceCase();
             c.swLat = "95";
             writeText(d / "param-event.dat", c.parameterText());
         },
         "param-event.dat: the study grid runs from latitude 95 to 95.0417 degrees (value 4 and "
         "5 rows of 30 arc-seconds); latitudes must lie from -90 to 90."},
        {"a non-finite elevation on a simulated cell",
         [](const fs::path& d) {
             SimCase c = confluenceCase();
             c.elevation[static_cast<std::size_t>(2 * 5 + 2)] = std::nanf("");
             c.write(d);
         },
         "modDem.bin has the elevation nan at column 3, row 3 (counted from 1 from the west and "
         "from the south), a simulated cell; elevations there must be finite numbers."},
        {"an infinite elevation where a simulated cell drains",
         [](const fs::path& d) {
             SimCase c = confluenceCase();
             // The confluence drains south into the border row.
             c.elevation[static_cast<std::size_t>(4 * 5 + 2)] =
                 -std::numeric_limits<float>::infinity();
             c.write(d);
         },
         "modDem.bin has the elevation -inf at column 3, row 1 (counted from 1 from the west and "
         "from the south), the cell a simulated cell drains into; elevations there must be "
         "finite numbers."},
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

namespace hydro::test {
namespace {

TEST(SimulationFailures, TheConservativeSchemeRefusesAWeightBelowOneHalf) {
    for (const char* weight : {"0.49", "0"}) {
        SCOPED_TRACE(weight);
        TempDir dir;
        SimCase c = confluenceCase();
        c.weight = weight;
        c.write(dir.path());
        writeText(dir / "output/water_balance.csv", "earlier balance");
        const std::string before = listing(dir / "output");
        std::ostringstream out;
        runoff::RunOptions conservative;
        conservative.scheme = runoff::Scheme::kConservative;
        EXPECT_EQ(runoff::runRunoffSim(dir.path(), out, conservative), 1);
        std::string console = out.str();
        ASSERT_FALSE(console.empty());
        console.pop_back();
        EXPECT_EQ(console.substr(console.rfind('\n') + 1),
                  std::string("param-event.dat: the conservative scheme needs a weight from 0.5 "
                              "to 1, not ")
                      + weight + ".");
        EXPECT_EQ(listing(dir / "output"), before);
        // The linear scheme takes it.
        std::ostringstream linear;
        EXPECT_EQ(runoff::runRunoffSim(dir.path(), linear), 0) << linear.str();
    }
}

TEST(SimulatorCommandLine, SchemesHelpAndWhatIsRefused) {
    using runoff::parseCommandLine;
    EXPECT_EQ(parseCommandLine({})->run.scheme, runoff::Scheme::kLinear);
    EXPECT_FALSE(parseCommandLine({})->help);
    EXPECT_EQ(parseCommandLine({"--scheme", "conservative"})->run.scheme,
              runoff::Scheme::kConservative);
    EXPECT_EQ(parseCommandLine({"--scheme=linear"})->run.scheme, runoff::Scheme::kLinear);
    EXPECT_TRUE(parseCommandLine({"--help"})->help);
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--scheme"}, "--scheme needs a value: linear or conservative."},
        {{"--scheme", "box"}, "--scheme must be linear or conservative, not \"box\"."},
        {{"--scheme=\x1b[2J"}, "--scheme must be linear or conservative, not \"\\x1B[2J\"."},
        {{"case"}, "Unknown argument \"case\" (runoff_sim --help lists the options)."},
    };
    for (const auto& [args, line] : refused) {
        const auto parsed = parseCommandLine(args);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error().message, line);
    }
}

}  // namespace
}  // namespace hydro::test
