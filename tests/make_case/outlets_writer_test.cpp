// The outlets file, the parameter text and the file order of the written grids.

#include <gtest/gtest.h>

#include <sstream>

#include "make_case/case_input.h"
#include "make_case/case_writer.h"
#include "make_case/outlets.h"
#include "tests/support/test_support.h"

namespace hydro::make_case {
namespace {

using test::TempDir;
using test::writeText;

TEST(OutletsFile, ColumnsByNameAndFaultsByLine) {
    TempDir dir;
    writeText(dir / "g.csv",
              "lat, id ,lon,area_km2,name\r\n34.1,A,-118.2,12.5,x\n\n34.2,B,-118.3,,y\n");
    const auto ok = readOutlets(dir / "g.csv");
    ASSERT_TRUE(ok) << ok.error().message;
    ASSERT_EQ(ok->size(), 2U);
    EXPECT_EQ((*ok)[0].id, "A");
    EXPECT_EQ((*ok)[0].lon, -118.2);
    EXPECT_EQ((*ok)[0].lat, 34.1);
    EXPECT_EQ((*ok)[0].areaKm2, 12.5);
    EXPECT_FALSE((*ok)[1].areaKm2);

    const std::vector<std::pair<std::string, std::string>> faults{
        {"id,lon\n", "line 1 must name the columns id, lon and lat"},
        {"id,lon,lat,area_km\nA,1,2,3\n",
         "line 1: unknown column area_km (did you mean area_km2?); the columns are id, lon, lat "
         "and optionally area_km2."},
        {"id,lon,lat\nA,1,95\n", "line 2: an outlet needs an id"},
        {"id,lon,lat,area_km2\nA,1,2,-3\n", "line 2: area_km2 must be a positive number"},
        {"id,lon,lat\n", "lists no outlet"},
        {"", "is empty"},
        {"id,lon,lat\nA,1,2\nB,1,3\nA,2,2\n",
         "line 4: the outlet id \"A\" is already on line 2; ids must differ."},
        {"id,lon,lat\nA,nan,2\n", "line 2: an outlet needs an id"},
        {"id,lon,lat\nA,1,nan\n", "line 2: an outlet needs an id"},
    };
    for (const auto& [text, line] : faults) {
        SCOPED_TRACE(text);
        writeText(dir / "g.csv", text);
        const auto fault = readOutlets(dir / "g.csv");
        ASSERT_FALSE(fault);
        EXPECT_NE(fault.error().message.find(line), std::string::npos) << fault.error().message;
    }
    // Whatever the file holds, the error quotes it as printable text; the text alone reads
    // as the file does.
    const auto control = parseOutlets("id,lon,lat,area_km2\nA,1,2,\x01\xff\n", "g.csv");
    ASSERT_FALSE(control);
    EXPECT_EQ(control.error().message,
              "g.csv line 2: area_km2 must be a positive number: \"\\x01\\xFF\"");
    const auto text = parseOutlets("id,lon,lat\r\nA,1,2\r\n", "g.csv");
    ASSERT_TRUE(text) << text.error().message;
    EXPECT_EQ((*text)[0].id, "A");
    // A folder given as the table is named as one.
    const auto folder = readOutlets(dir.path());
    ASSERT_FALSE(folder);
    EXPECT_NE(folder.error().message.find("is a folder, not a table of outlets"), std::string::npos)
        << folder.error().message;
    EXPECT_EQ(readOutlets("../").error().message,
              "../ is a folder, not a table of outlets (id,lon,lat[,area_km2]).");
}

TEST(Snapping, WindowBorderAndSameCell) {
    // 5 x 5 grid at (0°, 0°); accumulation rises to the south-east.
    const GridSpec gridSpec{0, 0, 5, 5};
    const std::vector<std::uint8_t> outside(25, 0);
    std::vector<std::int32_t> acc(25);
    std::vector<double> area(25);
    for (std::size_t i = 0; i < 25; ++i) {
        acc[i] = static_cast<std::int32_t>(i);
        area[i] = static_cast<double>(i) * 0.5;
    }
    const auto centre = [](std::int32_t row, std::int32_t col) {
        return OutletRequest{"g", (col + 0.5) / 120.0, (4 - row + 0.5) / 120.0, std::nullopt};
    };
    // From (2,2) within radius 1 the largest accumulation is (3,3); the border row 4 and
    // column 4 are never taken.
    auto s = snapOutlets(std::vector{centre(2, 2)}, gridSpec, outside, acc, area, 1);
    ASSERT_TRUE(s) << s.error().message;
    EXPECT_EQ((*s)[0].cell, 3 * 5 + 3);
    EXPECT_NEAR((*s)[0].distanceCells, 1.41421, 1e-5);
    EXPECT_EQ((*s)[0].distance, 1);
    EXPECT_EQ((*s)[0].warning, "");
    s = snapOutlets(std::vector{centre(3, 3)}, gridSpec, outside, acc, area, 3);
    EXPECT_EQ((*s)[0].cell, 3 * 5 + 3);
    // With an area, the closest upstream area wins: 3.5 km² is cell 7, i.e. (1,2).
    OutletRequest byArea = centre(2, 2);
    byArea.areaKm2 = 3.4;
    s = snapOutlets(std::vector{byArea}, gridSpec, outside, acc, area, 1);
    EXPECT_EQ((*s)[0].cell, 7);
    EXPECT_EQ((*s)[0].warning, "");
    // An area no cell of the window comes near: snapped, with the radius that reaches one.
    OutletRequest far = centre(1, 1);
    far.areaKm2 = 9.0;  // within 20 %: 7.2 to 10.8 km², cells (3,1) to (3,3), two rows south
    s = snapOutlets(std::vector{far}, gridSpec, outside, acc, area, 0);
    ASSERT_TRUE(s);
    EXPECT_EQ((*s)[0].cell, 6);
    EXPECT_EQ(
        (*s)[0].warning,
        "Warning: gauge g snapped to a cell draining 3.0 km2, but 9.0 km2 is given (off by "
        "more than 20 %) within --snap-radius 0; --snap-radius 2 reaches a cell within 20 %.");
    std::ostringstream warned;
    printSnapTable(std::vector{far}, *s, gridSpec, warned);
    EXPECT_TRUE(warned.str().ends_with("\n" + (*s)[0].warning + "\n")) << warned.str();
    // Two gauges on one cell, and a gauge whose window holds only border cells.
    s = snapOutlets(std::vector{centre(2, 2), centre(3, 3)}, gridSpec, outside, acc, area, 1);
    ASSERT_FALSE(s);
    EXPECT_NE(s.error().message.find("snap to the same cell"), std::string::npos);
    s = snapOutlets(std::vector{centre(4, 4)}, gridSpec, outside, acc, area, 0);
    ASSERT_FALSE(s);
    EXPECT_NE(s.error().message.find("finds no inside cell off the border"), std::string::npos);
    // An id from the file comes quoted into the error line.
    OutletRequest offGrid = centre(2, 2);
    offGrid.id = "g\x1b[2J";
    offGrid.lat = 10.0;
    s = snapOutlets(std::vector{offGrid}, gridSpec, outside, acc, area, 1);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().message.rfind("Outlet g\\x1B[2J at ", 0), 0U) << s.error().message;

    SnappedOutlet zero;  // in the cell that holds the point
    zero.cell = 7;
    zero.distanceCells = 0.0;
    zero.areaKm2 = 3.5;
    std::ostringstream table;
    printSnapTable(std::vector{byArea}, std::vector{zero}, gridSpec, table);
    SnappedOutlet one = zero;
    one.distanceCells = 1.0;
    one.distance = 1;
    EXPECT_NE(table.str().find("g, 1, 3, 4, 0, 3.5, 3.4\n"), std::string::npos) << table.str();
    table.str("");
    printSnapTable(std::vector{byArea}, std::vector{one}, gridSpec, table);
    EXPECT_NE(table.str().find("g, 1, 3, 4, 1, 3.5, 3.4\n"), std::string::npos) << table.str();
    // An id reaches the terminal short and printable.
    byArea.id = "\x1b[2J\x07" + std::string(100000, 'x');
    table.str("");
    printSnapTable(std::vector{byArea}, std::vector{zero}, gridSpec, table);
    EXPECT_NE(
        table.str().find("\n\\x1B[2J\\x07" + std::string(35, 'x') + "..., 1, 3, 4, 0, 3.5, 3.4\n"),
        std::string::npos)
        << table.str().substr(0, 300);
}

TEST(ParameterText, StudyGridReplacedEverythingElseKept) {
    const GridSpec gridSpec{-14201, 4109, 46, 19};
    const std::string before = "  199\t107\n-118.3430 34.2314 # rest\n17 9\n";
    EXPECT_EQ(*replaceStudyGrid(before, gridSpec),
              "  46\t19\n-118.341666667 34.2416666667 # rest\n17 9\n");
    EXPECT_FALSE(replaceStudyGrid("1 2 3", gridSpec));

    // The default file reads as the simulator reads it, and its rain points cover the grid.
    TempDir dir;
    writeText(dir / "param-event.dat", defaultParameterText(gridSpec));
    const auto p = readCaseParameters(dir.path());
    ASSERT_TRUE(p.ok()) << p.error().message;
    EXPECT_EQ((*p).studyCols, 46);
    EXPECT_EQ((*p).rainCols, 4);
    EXPECT_EQ((*p).rainRows, 2);
    EXPECT_EQ((*p).days, 1);
    EXPECT_EQ((*p).timeStep, 60);
    EXPECT_EQ((*p).channelArea, kDefaultChannelArea);
    EXPECT_NEAR((*p).rainLon0, -118.341666667 + 0.05, 1e-5);
}

TEST(CaseFiles, GridsRunFromTheSouthRowAndReplaceOnlyWhenComplete) {
    TempDir dir;
    const GridSpec gridSpec{0, 0, 3, 2};
    // North row first in memory.
    const std::vector<float> z{1, 2, 3, 4, 5, 6};
    const std::vector<std::int8_t> dir8{1, 2, 3, 4, 5, 6};
    const std::vector<std::int32_t> acc{10, 20, 30, 40, 50, 60};
    const std::vector<std::int32_t> river{-1, 1, 1, 2, 2, -1};
    const std::vector<RiverRecord> rivers{{1, 0, 1, 2, 1, -0.5, 0.0125}};
    CaseFiles files{&gridSpec, z, dir8, acc, river, rivers, "3 2 0 0\n"};
    const Status written = writeCase(dir.path(), files);
    ASSERT_TRUE(written) << written.error().message;
    EXPECT_EQ(test::readFloats(dir / "topoData/modDem.bin"),
              (std::vector<float>{4, 5, 6, 1, 2, 3}));
    EXPECT_EQ(test::readText(dir / "topoData/riverNumList.dat"), "1 0 1 2 1 0 -0.50000 0.01250\n");
    EXPECT_EQ(test::readText(dir / "param-event.dat"), "3 2 0 0\n");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "input"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "output/image"));

    const auto records = riverRecords(gridSpec, river, acc, std::vector<std::int32_t>{1, 3}, 25);
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].cells, 2);
    EXPECT_EQ(records[0].channelCells, 1);
    EXPECT_EQ(records[1].row, 1);
    EXPECT_EQ(records[1].col, 0);
    EXPECT_NEAR(records[1].lat, 0.5 / 120.0, 1e-12);

    // A case folder that cannot hold the files: nothing is put in place.
    test::writeText(dir / "blocked", "a file where a folder belongs");
    const Status blocked = writeCase(dir / "blocked", files);
    ASSERT_FALSE(blocked);
    EXPECT_NE(blocked.error().message.find("cannot be created"), std::string::npos);
}

}  // namespace
}  // namespace hydro::make_case
