// The plot command on a small case: the result line and the image, and every input it
// refuses with one line, exit status 1 and no image left behind.

#include "hydrograph/app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/hydrograph/tool_case.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

namespace fs = std::filesystem;

/// River 1 (listed) has its outlet at column 4, row 2; river 2 is not listed. Rain of 3 mm/h
/// falls in hours 3 to 5 of each day.
SimCase plotCase(int days) {
    SimCase c = twoRiverCase({
        1, 1, 1, 1, 1,  //
        1, 1, 2, 9, 1,  //
        1, 1, 3, 6, 1,  //
        1, 1, 1, 1, 1,  //
    });
    c.days = days;
    c.rain = [](int, int h, int, int) { return h >= 2 && h <= 4 ? 3.0F : 0.0F; };
    return c;
}

/// A series of `hours` lines: 1 m3/s, except the given hours.
std::string series(std::int64_t hours, const std::vector<std::pair<int, std::string>>& at) {
    std::string s;
    for (std::int64_t h = 1; h <= hours; ++h) {
        std::string v = "1";
        for (const auto& [hour, value] : at) {
            if (hour == h) {
                v = value;
            }
        }
        s += std::to_string(h) + " " + v + "\n";
    }
    return s;
}

Outcome plot(const fs::path& caseDir, const std::string& column, const std::string& row,
             const fs::path& seriesFile, const fs::path& svg) {
    return runTool({"plot", caseDir.string(), column, row, seriesFile.string(), svg.string()});
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PlotCommand, WritesTheImageAndQuotesThePeakAsTheFileSpellsIt) {
    TempDir dir;
    plotCase(1).write(dir.path());
    fs::create_directories(dir / "plots");
    // The first of two equal largest values is the peak.
    writeText(dir / "q.dat", series(24, {{14, "12.3457"}, {20, "12.3457"}, {3, "12.3456"}}));
    const Outcome r = plot(dir.path(), "4", "2", dir / "q.dat", dir / "plots/h.svg");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Peak discharge at column 4, row 2 (river 1): 12.3457 m3/s on day 1, hour 14.\n");
    EXPECT_EQ(entries(dir / "plots"), std::vector<std::string>{"h.svg"});
    const std::string svg = readText(dir / "plots/h.svg");
    EXPECT_NE(svg.find("River 1: discharge at column 4, row 2"), std::string::npos);
    EXPECT_NE(svg.find("Peak 12.3457 m\xC2\xB3/s, day 1 hour 14"), std::string::npos);
    // Three rainy hours on the basin.
    std::size_t bars = 0;
    for (std::size_t at = svg.find("class=\"rain\""); at != std::string::npos;
         at = svg.find("class=\"rain\"", at + 1)) {
        ++bars;
    }
    EXPECT_EQ(bars, 3U);
}

TEST(PlotCommand, PeakOnTheSecondDayAndAnImageReplaced) {
    TempDir dir;
    plotCase(2).write(dir.path());
    writeText(dir / "q.dat", series(48, {{27, "1e+06"}}));
    writeText(dir / "plots/h.svg", "old");
    const Outcome r = plot(dir.path(), "4", "2", dir / "q.dat", dir / "plots/h.svg");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Peak discharge at column 4, row 2 (river 1): 1e+06 m3/s on day 2, hour 3.\n");
    EXPECT_EQ(readText(dir / "plots/h.svg").rfind("<?xml", 0), 0U);
    EXPECT_EQ(entries(dir / "plots"), std::vector<std::string>{"h.svg"});
}

TEST(PlotCommand, RefusedInputsLeaveNoImage) {
    struct Case {
        const char* what;
        std::string column;
        std::string row;
        std::function<void(const fs::path&)> spoil;
        std::string line;  ///< expected output; "<dir>" stands for the case folder
    };
    const auto noop = [](const fs::path&) {};
    const Case cases[] = {
        {"column not a number", "x", "2", noop,
         "COLUMN must be a whole number (counted from 1 from the west), not \"x\"."},
        {"row not a number", "4", "2.0", noop,
         "ROW must be a whole number (counted from 1 from the south), not \"2.0\"."},
        {"east of the grid", "6", "2", noop,
         "Column 6, row 2 lies outside the study grid of 5 columns and 4 rows."},
        {"column 0", "0", "2", noop,
         "Column 0, row 2 lies outside the study grid of 5 columns and 4 rows."},
        {"north of the grid", "4", "5", noop,
         "Column 4, row 5 lies outside the study grid of 5 columns and 4 rows."},
        {"on the border", "1", "2", noop,
         "Column 1, row 2 lies on the border of the study grid, where no discharge is "
         "simulated."},
        {"unlisted river", "4", "3", noop,
         "Column 4, row 3 (river number 2 in riverNum.bin) is not on a river listed in "
         "riverNumList.dat."},
        {"no parameter file", "4", "2",
         [](const fs::path& d) { fs::remove(d / "param-event.dat"); },
         "param-event.dat cannot open."},
        {"no rain file", "4", "2", [](const fs::path& d) { fs::remove(d / "input/rain.dat"); },
         "ROF file cannot open."},
        {"no series file", "4", "2", [](const fs::path& d) { fs::remove(d / "q.dat"); },
         "<dir>/q.dat cannot open."},
        {"series is a folder", "4", "2",
         [](const fs::path& d) {
             fs::remove(d / "q.dat");
             fs::create_directories(d / "q.dat");
         },
         "<dir>/q.dat is a folder, not a series file."},
        {"short series", "4", "2",
         [](const fs::path& d) { writeText(d / "q.dat", series(23, {})); },
         "<dir>/q.dat: holds 23 lines, but the event has 24 hours."},
        {"series hours out of step", "4", "2",
         [](const fs::path& d) {
             std::string s = series(24, {});
             s.replace(s.find("\n5 1\n"), 5, "\n6 1\n");
             writeText(d / "q.dat", s);
         },
         "<dir>/q.dat: line 5 is for hour 6, but hour 5 belongs there."},
        {"series far too large", "4", "2",
         [](const fs::path& d) { writeText(d / "q.dat", std::string(24 * 256 + 512, ' ')); },
         "<dir>/q.dat is too large for a series of 24 hours."},
        {"no discharge in one hour only", "4", "2",
         [](const fs::path& d) {
             writeText(d / "q.dat", series(24, {{1, "-9999"}}));
         },
         "<dir>/q.dat: line 2 mixes -9999 (no discharge) with discharges of other hours."},
        {"the series of another cell", "4", "2",
         [](const fs::path& d) { fs::rename(d / "q.dat", d / "3-2_discharge.dat"); },
         "<dir>/3-2_discharge.dat is the series of column 3, row 2, not of column 4, row 2."},
        {"a river list opened by a comment", "4", "2",
         [](const fs::path& d) {
             writeText(d / "topoData/riverNumList.dat", "# rivers\n1 0 0 0 0 0 0 0\n");
         },
         "riverNumList.dat line 1 holds \"#\" where an integer belongs (value 1 of a record of "
         "six integers and two reals)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        plotCase(1).write(dir.path());
        writeText(dir / "q.dat", series(24, {{5, "7"}}));
        fs::create_directories(dir / "plots");
        c.spoil(dir.path());
        const fs::path seriesFile =
            fs::exists(dir / "3-2_discharge.dat") ? dir / "3-2_discharge.dat" : dir / "q.dat";
        const Outcome r = plot(dir.path(), c.column, c.row, seriesFile, dir / "plots/h.svg");
        std::string line = c.line;
        if (line.starts_with("<dir>")) {
            line.replace(0, 5, dir.path().string());
        }
        EXPECT_EQ(r.out, line + "\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(entries(dir / "plots").empty());
    }
}

TEST(PlotCommand, CellWithoutDischargeIsOneLine) {
    TempDir dir;
    plotCase(1).write(dir.path());
    std::string s;
    for (int h = 1; h <= 24; ++h) {
        s += std::to_string(h) + " -9999\n";
    }
    writeText(dir / "q.dat", s);
    fs::create_directories(dir / "plots");
    const Outcome r = plot(dir.path(), "4", "2", dir / "q.dat", dir / "plots/h.svg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, (dir / "q.dat").string()
                         + " holds -9999 in every hour: the cell has no simulated discharge.\n");
    EXPECT_TRUE(entries(dir / "plots").empty());
}

TEST(PlotCommand, ImageThatCannotBeWrittenIsReportedAndNothingLeftBehind) {
    TempDir dir;
    plotCase(1).write(dir.path());
    writeText(dir / "q.dat", series(24, {}));
    {
        const Outcome r = plot(dir.path(), "4", "2", dir / "q.dat", dir / "nowhere/h.svg");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, (dir / "nowhere/h.svg").string()
                             + " cannot be created (No such file or directory).\n");
        EXPECT_FALSE(fs::exists(dir / "nowhere"));
    }
    {
        // The name of a folder: the image cannot take its place.
        fs::create_directories(dir / "plots/h.svg");
        const Outcome r = plot(dir.path(), "4", "2", dir / "q.dat", dir / "plots/h.svg");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out.rfind((dir / "plots/h.svg").string() + " cannot be put in place (", 0), 0U)
            << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
        EXPECT_EQ(entries(dir / "plots"), std::vector<std::string>{"h.svg"});
        EXPECT_TRUE(fs::is_directory(dir / "plots/h.svg"));
    }
    {
        // A folder that cannot be written to (skipped as root, who may write anywhere).
        fs::create_directories(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        if (::access((dir / "locked").c_str(), W_OK) != 0) {
            const Outcome r = plot(dir.path(), "4", "2", dir / "q.dat", dir / "locked/h.svg");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, (dir / "locked/h.svg").string()
                                 + " cannot be created (Permission denied).\n");
            EXPECT_TRUE(entries(dir / "locked").empty());
        }
    }
}

}  // namespace
}  // namespace hydro::test
