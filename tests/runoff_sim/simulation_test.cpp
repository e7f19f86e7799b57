// The whole simulator on small cases: console text, output bytes against the literal
// sequential order, thread-count independence and the failures of the output stage.

#include <gtest/gtest.h>
#include <omp.h>

#include <filesystem>
#include <sstream>

#include "runoff_sim/driver.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/runoff_sim/sequential_reference.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

namespace fs = std::filesystem;

struct RunResult {
    int status;
    std::string console;
};

RunResult run(const fs::path& dir) {
    std::ostringstream out;
    const int status = runoff::runRunoffSim(dir, out);
    return {status, out.str()};
}

/// Restores the thread count after a test changes it.
class ThreadCount {
public:
    explicit ThreadCount(int n) : saved_(omp_get_max_threads()) { omp_set_num_threads(n); }
    ~ThreadCount() { omp_set_num_threads(saved_); }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;
    ThreadCount(ThreadCount&&) = delete;
    ThreadCount& operator=(ThreadCount&&) = delete;

private:
    int saved_;
};

void expectMatchesReference(const fs::path& dir) {
    const ReferenceOutputs ref = runSequentialReference(dir);
    EXPECT_EQ(readFloats(dir / "output" / "dischargeDaily.bin"), ref.daily);
    EXPECT_EQ(readFloats(dir / "output" / "dischargeHourlyMaxInDay.bin"), ref.dailyMax);
    EXPECT_EQ(readFloats(dir / "output" / "dischargeHourly.bin"), ref.hourly);
}

constexpr const char* kEcho =
    "Reading parameters for runoff simulation.\n"
    "1) Reading parameters for study area.\n"
    "  Number of col : 5  Number of row : 5\n"
    " Sorth West corner Longitude (degree) : 135 Latitude (deg) : 35\n"
    "2) Reading parameters for input data.\n"
    "  Number of col : 2  Number of row : 2\n"
    "  Input data grid size of x-direction : 0.1\n"
    "  Input data grid size of y-direction : 0.1\n"
    "  Longitude of the center of the Southwest corner of input data (degree) : 135\n"
    "  Latitude of the center of the Southwest corner of input data (degree) : 35\n"
    "3) Reading parameters for simuration duration.\n"
    "  Simulation duration (days) : 1\n"
    "4) Reading parameters for finite difference condition.\n"
    "  Finite difference time step (sec) : 600\n"
    "  Finite difference space step : 4\n"
    "  Finite difference weight : 0.6\n"
    "5) Reading parameters for kinematic wave model.\n"
    "  Manning roughmess coefficient for slope [m/s] : 0.6\n"
    "  Manning roughmess coefficient for channel [m/s] : 0.03\n"
    "  Area to classify slope and channel : 3\n"
    "6) Reading itinial discharge for kinematic wave model.\n"
    "  Initial runoff height [mm/hr] : 0.1\n";

TEST(Simulation, ConfluenceTranscriptAndOutputs) {
    TempDir dir;
    confluenceCase().write(dir.path());
    const RunResult r = run(dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.console, std::string(kEcho)
                             + "Number of rivers for simulation : 1\n"
                               "\n"
                               "*** Number of different kind of cell accumulattion number : 6\n"
                               "Total simulation time is 1 days.\n"
                               "\n"
                               "Read ./input/rain.dat\n"
                               "Runoff simulation starts.\n"
                               "  16.7% ends.\n"
                               "  33.3% ends.\n"
                               "  50% ends.\n"
                               "  66.7% ends.\n"
                               "  83.3% ends.\n"
                               "  100% ends.\n"
                               "\n"
                               "Runoff simulation ends.\n"
                               "Write ./output/dischargeDaily.bin\n"
                               "Write ./output/dischargeHourlyMaxInDay.bin\n"
                               "Write ./output/dischargeHourly.bin\n");
    expectMatchesReference(dir.path());
    // One day: one frame in each daily file, 24 in the hourly file.
    EXPECT_EQ(fs::file_size(dir / "output/dischargeDaily.bin"), 25U * 4U);
    EXPECT_EQ(fs::file_size(dir / "output/dischargeHourly.bin"), 24U * 25U * 4U);
}

TEST(Simulation, SameBytesAtAnyThreadCountAndForInconsistentAccumulation) {
    SimCase c = confluenceCase();
    c.days = 2;
    c.timeStep = 300;
    // The north-centre cell claims more accumulation than the cell it drains into, so the
    // sequential order runs it later: its downstream cell must read zeros from it, and it still
    // runs and reports its own discharge.
    c.flowAcc[7] = 5;
    // A cell that drains into its own upstream neighbour: a two-cell loop.
    c.flowDir[16] = 1;  // (3,1) now drains north into (2,1)
    c.flowDir[11] = 5;  // (2,1) drains south into (3,1)
    std::string first;
    for (int threads : {1, 2, 3}) {
        SCOPED_TRACE(threads);
        const ThreadCount tc(threads);
        TempDir dir;
        c.write(dir.path());
        ASSERT_EQ(run(dir.path()).status, 0);
        expectMatchesReference(dir.path());
        const std::string bytes = readText(dir / "output/dischargeHourly.bin")
                                  + readText(dir / "output/dischargeDaily.bin")
                                  + readText(dir / "output/dischargeHourlyMaxInDay.bin");
        if (first.empty()) {
            first = bytes;
        }
        EXPECT_EQ(bytes, first);
    }
}

TEST(Simulation, CellsThatAreNotRoutedGetFixedValues) {
    SimCase c = confluenceCase();
    c.riverNum[6] = 2;    // (1,1): a river that is not listed
    c.flowAcc[8] = 0;     // (1,3): listed, never routed
    c.riverNum[13] = -1;  // (2,3): outside every river
    TempDir dir;
    c.write(dir.path());
    ASSERT_EQ(run(dir.path()).status, 0);
    expectMatchesReference(dir.path());
    const auto hourly = readFloats(dir / "output/dischargeHourly.bin");
    const auto daily = readFloats(dir / "output/dischargeDaily.bin");
    // Frame positions count rows from the south: (row r from the north, col c) -> (4-r)*5+c.
    const auto at = [](int row, int col) { return static_cast<std::size_t>((4 - row) * 5 + col); };
    for (int h = 0; h < 24; ++h) {
        SCOPED_TRACE(h);
        const std::size_t f = static_cast<std::size_t>(h) * 25U;
        EXPECT_EQ(hourly[f + at(1, 1)], -9999.0F);
        EXPECT_EQ(hourly[f + at(1, 3)], 0.0F);
        EXPECT_EQ(hourly[f + at(2, 3)], -9999.0F);
        EXPECT_EQ(hourly[f + at(0, 2)], -9999.0F);  // border cell of the listed river
        EXPECT_EQ(hourly[f + at(4, 2)], -9999.0F);
        EXPECT_GT(hourly[f + at(3, 2)], 0.0F);
    }
    EXPECT_EQ(daily[at(1, 3)], 0.0F);
}

TEST(Simulation, ProgressLinesFollowTheClassCount) {
    struct Case {
        std::vector<std::int32_t> interiorAcc;  // the nine interior cells, north row first
        std::string lines;
    };
    const Case cases[] = {
        {{1, 1, 1, 2, 2, 2, 3, 3, 3}, "  33.3% ends.\n  66.7% ends.\n  100% ends.\n"},
        {{1, 2, 3, 4, 5, 6, 7, 7, 7},
         "  14.3% ends.\n  28.6% ends.\n  42.9% ends.\n  57.1% ends.\n  71.4% ends.\n"
         "  85.7% ends.\n  100% ends.\n"},
        {{0, 0, 0, 0, -3, 0, 0, 0, 0}, ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.lines);
        SimCase c = confluenceCase();
        c.flowAcc.assign(25, 0);
        for (int i = 0; i < 9; ++i) {
            c.flowAcc[static_cast<std::size_t>((1 + i / 3) * 5 + 1 + i % 3)] =
                k.interiorAcc[static_cast<std::size_t>(i)];
        }
        TempDir dir;
        c.write(dir.path());
        const RunResult r = run(dir.path());
        ASSERT_EQ(r.status, 0);
        const auto from = r.console.find("Runoff simulation starts.\n");
        const auto to = r.console.find("\nRunoff simulation ends.\n");
        ASSERT_NE(from, std::string::npos);
        ASSERT_NE(to, std::string::npos);
        EXPECT_EQ(r.console.substr(from + 26, to - from - 26), k.lines);
        expectMatchesReference(dir.path());
    }
}

TEST(Simulation, NoRainAndNoInitialRunoffKeepEverythingZero) {
    SimCase c = confluenceCase();
    c.initialRunoff = "0";
    c.rain = [](int, int, int, int) { return 0.0F; };
    TempDir dir;
    c.write(dir.path());
    ASSERT_EQ(run(dir.path()).status, 0);
    for (float v : readFloats(dir / "output/dischargeHourly.bin")) {
        EXPECT_TRUE(v == 0.0F || v == -9999.0F);
    }
}

TEST(Simulation, AnEmptyRiverListSimulatesNothing) {
    SimCase c = confluenceCase();
    c.riverList = "";
    TempDir dir;
    c.write(dir.path());
    const RunResult r = run(dir.path());
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.console.find("Number of rivers for simulation : 0\n"), std::string::npos);
    for (float v : readFloats(dir / "output/dischargeHourly.bin")) {
        EXPECT_EQ(v, -9999.0F);
    }
}

TEST(Simulation, GridsOfOneOrTwoRowsOrColumnsSimulateNothing) {
    for (const auto& [rows, cols] :
         std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {1, 6}, {7, 2}}) {
        SCOPED_TRACE(std::to_string(rows) + " x " + std::to_string(cols));
        SimCase c;
        c.studyRows = rows;
        c.studyCols = cols;
        const auto n = static_cast<std::size_t>(rows * cols);
        c.elevation.assign(n, 10.0F);
        c.flowDir.assign(n, 3);
        c.flowAcc.assign(n, 2);
        c.riverNum.assign(n, 1);
        c.rain = [](int, int, int, int) { return 5.0F; };
        TempDir dir;
        c.write(dir.path());
        const RunResult r = run(dir.path());
        ASSERT_EQ(r.status, 0) << r.console;
        EXPECT_NE(
            r.console.find("Runoff simulation starts.\n  100% ends.\n\nRunoff simulation ends."),
            std::string::npos);
        const auto hourly = readFloats(dir / "output/dischargeHourly.bin");
        EXPECT_EQ(hourly.size(), 24U * n);
        for (float v : hourly) {
            EXPECT_EQ(v, -9999.0F);
        }
    }
}

TEST(Simulation, OutputFilesAreReplacedNotAppended) {
    TempDir dir;
    confluenceCase().write(dir.path());
    writeText(dir / "output/dischargeHourly.bin", std::string(100000, 'x'));
    ASSERT_EQ(run(dir.path()).status, 0);
    EXPECT_EQ(fs::file_size(dir / "output/dischargeHourly.bin"), 24U * 25U * 4U);
    expectMatchesReference(dir.path());
}

TEST(Simulation, OutputThatCannotBeCreatedStopsBeforeTheTimeLoop) {
    const std::string before = "Read ./input/rain.dat\n";
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> spoil;
        const char* message;
    };
    const Case cases[] = {
        {"no output folder", [](const fs::path& d) { fs::remove_all(d / "output"); },
         "dischargeDaily.bin cannot open.\n"},
        {"a folder standing for the hourly file",
         [](const fs::path& d) { fs::create_directories(d / "output/dischargeHourly.bin"); },
         "dischargeHourly.bin cannot open.\n"},
        {"a folder standing for a VRT file",
         [](const fs::path& d) { fs::create_directories(d / "output/dischargeHourly.vrt"); },
         "dischargeHourly.vrt cannot open.\n"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        TempDir dir;
        confluenceCase().write(dir.path());
        writeText(dir / "output/dischargeDaily.bin", "keep");
        k.spoil(dir.path());
        const RunResult r = run(dir.path());
        EXPECT_EQ(r.status, 1);
        ASSERT_GE(r.console.size(), before.size());
        EXPECT_EQ(r.console.substr(r.console.find(before) + before.size()), k.message);
        // Nothing in the output folder changed: no file created, none truncated.
        if (fs::exists(dir / "output/dischargeDaily.bin")) {
            EXPECT_EQ(readText(dir / "output/dischargeDaily.bin"), "keep");
        }
        EXPECT_FALSE(fs::exists(dir / "output/dischargeHourlyMaxInDay.bin"));
    }
}

TEST(Simulation, AFullDiskIsAFailure) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full to make writes fail";
    }
    {
        TempDir dir;
        confluenceCase().write(dir.path());
        fs::create_symlink("/dev/full", dir / "output/dischargeHourly.bin");
        // A description left by an earlier run must not present the unfinished grids.
        writeText(dir / "output/dischargeDaily.vrt", "<VRTDataset/>");
        const RunResult r = run(dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.console.find("dischargeHourly.bin cannot be written.\n"), std::string::npos);
        EXPECT_EQ(r.console.find("Runoff simulation ends."), std::string::npos);
        EXPECT_EQ(readText(dir / "output/dischargeDaily.vrt"), "");
    }
    {
        TempDir dir;
        confluenceCase().write(dir.path());
        fs::create_symlink("/dev/full", dir / "output/dischargeHourlyMaxInDay.vrt");
        const RunResult r = run(dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(
            r.console.ends_with("Write ./output/dischargeHourly.bin\n"
                                "dischargeHourlyMaxInDay.vrt cannot be written.\n"))
            << r.console;
    }
}

TEST(Simulation, EachGridHasADescriptionForGisTools) {
    TempDir dir;
    confluenceCase().write(dir.path());
    ASSERT_EQ(run(dir.path()).status, 0);
    for (const char* name : {"dischargeDaily", "dischargeHourlyMaxInDay", "dischargeHourly"}) {
        SCOPED_TRACE(name);
        const std::string vrt = readText(dir / "output" / (std::string(name) + ".vrt"));
        EXPECT_NE(vrt.find(std::string(">") + name + ".bin</SourceFilename>"), std::string::npos);
        EXPECT_TRUE(vrt.ends_with("</VRTDataset>\n"));
    }
}

}  // namespace
}  // namespace hydro::test
