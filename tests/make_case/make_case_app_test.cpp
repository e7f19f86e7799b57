// make_case terrain on GeoTIFFs written for the test, and make_case check on the case it makes
// and on copies of it with one fault each.

#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "case/grid_cell.h"
#include "make_case/app.h"
#include "make_case/case_check.h"
#include "make_case/case_input.h"
#include "make_case/flow_network.h"
#include "make_case/raster_source.h"
#include "make_case/synthetic_dem.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/runoff_sim/planned_state.h"
#include "tests/support/test_support.h"

namespace hydro::make_case {
namespace {

namespace fs = std::filesystem;
using test::readText;
using test::TempDir;
using test::writeText;

const GridSpec kSpec{-118 * 120, 34 * 120, 40, 30};

/// Replaces value number `index` (from 0) of a white-space-separated text.
std::string withValue(const std::string& text, std::size_t index, const std::string& value) {
    std::istringstream in(text);
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) {
        tokens.push_back(t);
    }
    tokens.at(index) = value;
    std::string out;
    for (const std::string& t : tokens) {
        out += t + "\n";
    }
    return out;
}

/// A rain file for the case's parameters: every point `mmPerHour` in every hour.
void writeRain(const fs::path& caseDir, float mmPerHour, std::int32_t extraValues = 0) {
    const auto p = readCaseParameters(caseDir);
    ASSERT_TRUE(p.ok()) << p.error().message;
    std::ostringstream r;
    for (std::int32_t d = 1; d <= (*p).days; ++d) {
        for (int h = 0; h < 24; ++h) {
            r << "2000 1 " << d << ' ' << h << " 0 0\n";
            for (std::int32_t k = 0; k < (*p).rainCols * (*p).rainRows; ++k) {
                r << mmPerHour << ' ';
            }
            r << '\n';
        }
    }
    for (std::int32_t k = 0; k < extraValues; ++k) {
        r << "0 ";
    }
    writeText(caseDir / "input" / "rain.dat", r.str());
}

int runTerrainOn(const TerrainOptions& o, std::string* console = nullptr) {
    std::ostringstream out;
    std::ostringstream progress;
    const int status = runTerrain(o, out, progress);
    if (console != nullptr) {
        *console = out.str();
    }
    return status;
}

std::vector<std::int32_t> readInts(const fs::path& path) {
    const std::vector<float> raw = test::readFloats(path);
    std::vector<std::int32_t> v(raw.size());
    std::memcpy(v.data(), raw.data(), raw.size() * sizeof(float));
    return v;
}

/// A case made by make_case from a fractal DEM, with rain of 5 mm/hr, made once.
class MadeCase : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        ASSERT_TRUE(writeTerrainGeoTiff(*dir_ / "dem.tif", fractalTerrain(kSpec, 11)));
        TerrainOptions o;
        o.dem = *dir_ / "dem.tif";
        o.caseDir = *dir_ / "case";
        o.minBasinCells = 20;
        std::string console;
        ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
        writeRain(o.caseDir, 5.0F);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static fs::path caseDir() { return *dir_ / "case"; }

    /// Copies the case into `into` and runs the check there after `corrupt`.
    static std::pair<CheckSummary, std::string> checkCopy(
        const TempDir& into, const std::function<void(const fs::path&)>& corrupt) {
        fs::copy(caseDir(), into.path() / "case", fs::copy_options::recursive);
        corrupt(into.path() / "case");
        std::ostringstream out;
        const CheckSummary s = checkCase(into.path() / "case", out);
        return {s, out.str()};
    }

private:
    static TempDir* dir_;
};
TempDir* MadeCase::dir_ = nullptr;

TEST_F(MadeCase, FilesAgreeWithEachOtherAndCheckAcceptsThem) {
    const auto p = readCaseParameters(caseDir());
    ASSERT_TRUE(p.ok()) << p.error().message;
    EXPECT_EQ((*p).studyCols, 40);
    EXPECT_EQ((*p).studyRows, 30);
    EXPECT_EQ((*p).swLon, -118.0F);
    EXPECT_EQ((*p).swLat, 34.0F);
    EXPECT_EQ((*p).channelArea, 50);
    for (const char* name : {"modDem.bin", "flowDir.bin", "flowAcc.bin", "riverNum.bin"}) {
        EXPECT_EQ(fs::file_size(caseDir() / "topoData" / name), 40U * 30U * 4U) << name;
    }
    EXPECT_TRUE(fs::is_directory(caseDir() / "output" / "image"));
    // Each river record counts the cells of its number; the outlet's accumulation is its size
    // for a border outlet.
    const auto riverNum = readInts(caseDir() / "topoData" / "riverNum.bin");
    const auto flowAcc = readInts(caseDir() / "topoData" / "flowAcc.bin");
    std::istringstream list(readText(caseDir() / "topoData" / "riverNumList.dat"));
    std::int32_t number = 0;
    std::int32_t row = 0;
    std::int32_t col = 0;
    std::int64_t cells = 0;
    std::int64_t channel = 0;
    std::int32_t zero = 0;
    double lon = 0.0;
    double lat = 0.0;
    std::int32_t expectNumber = 1;
    std::int64_t previous = 1 << 30;
    while (list >> number >> row >> col >> cells >> channel >> zero >> lon >> lat) {
        SCOPED_TRACE(number);
        EXPECT_EQ(number, expectNumber++);
        EXPECT_EQ(std::count(riverNum.begin(), riverNum.end(), number), cells);
        EXPECT_LE(cells, previous);
        previous = cells;
        // Files hold rows from the south.
        const auto filePos = static_cast<std::size_t>((29 - row) * 40 + col);
        EXPECT_EQ(riverNum[filePos], number);
        EXPECT_EQ(flowAcc[filePos], cells);
        EXPECT_TRUE(row == 0 || row == 29 || col == 0 || col == 39);
        EXPECT_NEAR(lon, -118.0 + (col + 0.5) / 120.0, 1e-5);
        EXPECT_NEAR(lat, 34.0 + (29 - row + 0.5) / 120.0, 1e-5);
        EXPECT_GE(cells, 20);
    }
    EXPECT_GT(expectNumber, 1);

    std::ostringstream out;
    const CheckSummary s = checkCase(caseDir(), out);
    EXPECT_EQ(s.errors, 0) << out.str();
    // The one warning: the default space steps leave the linear scheme's volume error large.
    EXPECT_EQ(s.warnings, 1) << out.str();
    EXPECT_NE(out.str().find("warning: with 4 space steps runoff_sim's default linear scheme makes "
                             "about 20 % more water than falls"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("ready for runoff_sim"), std::string::npos);
}

TEST_F(MadeCase, CheckRefusesEachFaultWithItsOwnLine) {
    const auto p = *readCaseParameters(caseDir());
    const auto at = [&](std::int32_t rowFromNorth, std::int32_t col) {
        return static_cast<std::size_t>((p.studyRows - 1 - rowFromNorth) * p.studyCols + col);
    };
    const auto editInts = [](const fs::path& file,
                             const std::function<void(std::vector<std::int32_t>&)>& edit) {
        std::vector<std::int32_t> v = readInts(file);
        edit(v);
        test::writeInt32s(file, v);
    };
    const auto riverNum = readInts(caseDir() / "topoData" / "riverNum.bin");
    // An interior cell of river 1 with interior neighbours all round.
    std::int32_t r0 = -1;
    std::int32_t c0 = -1;
    for (std::int32_t r = 2; r < p.studyRows - 2 && r0 < 0; ++r) {
        for (std::int32_t c = 2; c < p.studyCols - 2 && r0 < 0; ++c) {
            if (riverNum[at(r, c)] == 1) {
                r0 = r;
                c0 = c;
            }
        }
    }
    ASSERT_GE(r0, 0);
    // Enough space steps that the linear scheme's volume error raises no warning of its own.
    const std::string params = withValue(readText(caseDir() / "param-event.dat"), 12, "20");

    struct Fault {
        const char* name;
        std::function<void(const fs::path&)> corrupt;
        const char* line;
        bool error;
    };
    const std::vector<Fault> faults{
        // The programs never create folders: the simulator would fail at its first write.
        {"no output folder", [](const fs::path& c) { fs::remove_all(c / "output"); },
         "case/output is not a folder: create it with: mkdir -p ", true},
        {"no image folder", [](const fs::path& c) { fs::remove_all(c / "output" / "image"); },
         "case/output/image is not a folder: create it with: mkdir -p ", true},
        {"short grid",
         [](const fs::path& c) {
             fs::resize_file(c / "topoData" / "flowAcc.bin", 40 * 30 * 4 - 4);
         },
         "flowAcc.bin holds 1199 values, but the study grid of param-event.dat (40 x 30) needs "
         "1200",
         true},
        {"code 9",
         [&](const fs::path& c) {
             editInts(c / "topoData" / "flowDir.bin", [&](auto& v) { v[at(r0, c0)] = 9; });
         },
         "river cells have codes outside 0 to 8, the first 9", true},
        {"loop",
         [&](const fs::path& c) {
             editInts(c / "topoData" / "flowDir.bin", [&](auto& v) {
                 v[at(r0, c0)] = 3;
                 v[at(r0, c0 + 1)] = 7;
             });
         },
         "flowDir.bin has a flow loop through the cell at", true},
        {"accumulation",
         [&](const fs::path& c) {
             editInts(c / "topoData" / "flowAcc.bin", [&](auto& v) { v[at(r0, c0)] += 1; });
         },
         "flowAcc.bin disagrees with the flow directions on 1 river cells", true},
        {"eight inflows",
         [&](const fs::path& c) {
             editInts(c / "topoData" / "flowDir.bin", [&](auto& v) {
                 for (std::int32_t k = 1; k <= 8; ++k) {
                     const std::int32_t rr = r0 + kD8Offsets[static_cast<std::size_t>(k)].row;
                     const std::int32_t cc = c0 + kD8Offsets[static_cast<std::size_t>(k)].column;
                     v[at(rr, cc)] = (k + 3) % 8 + 1;
                 }
                 v[at(r0, c0)] = 0;
             });
             editInts(c / "topoData" / "riverNum.bin", [&](auto& v) {
                 for (std::int32_t dr = -1; dr <= 1; ++dr) {
                     for (std::int32_t dc = -1; dc <= 1; ++dc) {
                         v[at(r0 + dr, c0 + dc)] = 1;
                     }
                 }
             });
         },
         "8 cells drain into the cell at", true},
        {"non-finite elevation",
         [&](const fs::path& c) {
             std::vector<float> z = test::readFloats(c / "topoData" / "modDem.bin");
             z[at(r0, c0)] = std::numeric_limits<float>::infinity();
             test::writeFloats(c / "topoData" / "modDem.bin", z);
         },
         "river cells have no finite elevation", true},
        {"river without cells",
         [](const fs::path& c) {
             std::ofstream(c / "topoData" / "riverNumList.dat", std::ios::app)
                 << "99 0 0 0 0 0 0.0 0.0\n";
         },
         "riverNumList.dat lists river 99, which has no cell", true},
        {"rain.dat missing", [](const fs::path& c) { fs::remove(c / "input" / "rain.dat"); },
         "ROF file cannot open.", true},
        {"rain far away",
         [&](const fs::path& c) {
             writeText(c / "param-event.dat", withValue(params, 8, "-117.5"));
         },
         "the rain grid does not cover", false},
        {"rain for another grid", [](const fs::path& c) { writeRain(c, 5.0F, 10); },
         "it was probably written for another grid", false},
        {"time step 7 s",
         [&](const fs::path& c) { writeText(c / "param-event.dat", withValue(params, 11, "7")); },
         "the time step of 7 s does not divide 3600: each hour runs 514 steps, 3598 s", false},
        {"Courant number",
         [&](const fs::path& c) {
             std::string text = withValue(params, 11, "3600");
             text = withValue(text, 13, "0.2");
             text = withValue(text, 16, "5");
             writeText(c / "param-event.dat", text);
             writeRain(c, 100.0F);
         },
         "below 0.5 the explicit scheme needs a Courant number of at most 1", false},
        {"few space steps",
         [&](const fs::path& c) { writeText(c / "param-event.dat", withValue(params, 12, "10")); },
         "with 10 space steps runoff_sim's default linear scheme makes about 10 % more water",
         false},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        TempDir dir;
        const auto [summary, out] = checkCopy(dir, [&](const fs::path& c) {
            writeText(c / "param-event.dat", params);
            f.corrupt(c);
        });
        EXPECT_NE(out.find(f.line), std::string::npos) << out;
        if (f.error) {
            EXPECT_GE(summary.errors, 1) << out;
            EXPECT_NE(out.find("runoff_sim would fail or produce garbage"), std::string::npos);
        } else {
            EXPECT_EQ(summary.errors, 0) << out;
            EXPECT_EQ(summary.warnings, 1) << out;
        }
    }
}

TEST(CaseFolders, ANotherFolderIsNamedWithWhatACaseHolds) {
    TempDir dir;
    fs::create_directories(dir / "case" / "output");
    writeText(dir / "case" / "param-event.dat", "");
    std::ostringstream out;
    EXPECT_GE(checkCase(dir / "case" / "output", out).errors, 1);
    EXPECT_EQ(out.str().rfind("error: this is not a case folder: no param-event.dat in "
                                  + (dir / "case" / "output").string() + "; the case folder is "
                                  + (dir / "case").string() + ".\n",
                              0),
              0U)
        << out.str();
    std::ostringstream rain;
    std::ostringstream progress;
    EXPECT_EQ(runMakeCase({"rain", (dir / "r.nc").string(), dir.path().string()}, rain, progress),
              1);
    EXPECT_EQ(rain.str(),
              "this is not a case folder: no param-event.dat in " + dir.path().string() + ".\n");
}

TEST(Terrain, KeepsTheOtherParameterValuesOfAnExistingFile) {
    TempDir dir;
    ASSERT_TRUE(writeTerrainGeoTiff(dir / "dem.tif", fractalTerrain(kSpec, 3)));
    const std::string before =
        "7 9\n0.5 0.5\n  3 2\n0.25 0.25\n-118.0 34.0\n3\n120\n2\n0.55\n0.4\n0.035\n7\n0.2\n";
    writeText(dir / "case" / "param-event.dat", before);
    TerrainOptions o;
    o.dem = dir / "dem.tif";
    o.caseDir = dir / "case";
    std::string console;
    ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
    EXPECT_EQ(
        readText(dir / "case" / "param-event.dat"),
        "40 30\n-118 34\n  3 2\n0.25 0.25\n-118.0 34.0\n3\n120\n2\n0.55\n0.4\n0.035\n7\n0.2\n");
    // Channel cells are counted against the file's threshold of 7 cells.
    const auto flowAcc = readInts(dir / "case" / "topoData" / "flowAcc.bin");
    const auto riverNum = readInts(dir / "case" / "topoData" / "riverNum.bin");
    std::istringstream list(readText(dir / "case" / "topoData" / "riverNumList.dat"));
    std::int64_t v[6] = {};
    list >> v[0] >> v[1] >> v[2] >> v[3] >> v[4];
    std::int64_t channel = 0;
    for (std::size_t i = 0; i < flowAcc.size(); ++i) {
        channel += riverNum[i] == 1 && flowAcc[i] > 7 ? 1 : 0;
    }
    EXPECT_EQ(v[4], channel);

    // A file the simulator would refuse is not overwritten.
    writeText(dir / "case" / "param-event.dat", "40 30 -118 34 x\n");
    EXPECT_EQ(runTerrainOn(o, &console), 1);
    EXPECT_NE(console.find("Correct it, or remove it"), std::string::npos) << console;
    EXPECT_EQ(readText(dir / "case" / "param-event.dat"), "40 30 -118 34 x\n");
}

TEST(Terrain, AFailurePartWayLeavesTheCaseAsItWas) {
    TempDir dir;
    ASSERT_TRUE(writeTerrainGeoTiff(dir / "first.tif", fractalTerrain(kSpec, 3)));
    ASSERT_TRUE(writeTerrainGeoTiff(dir / "second.tif", fractalTerrain(kSpec, 11)));
    TerrainOptions o;
    o.dem = dir / "first.tif";
    o.caseDir = dir / "case";
    std::string console;
    ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
    const std::vector<std::string> files{"topoData/modDem.bin",       "topoData/flowDir.bin",
                                         "topoData/flowAcc.bin",      "topoData/riverNum.bin",
                                         "topoData/riverNumList.dat", "param-event.dat"};
    std::vector<std::string> before;
    before.reserve(files.size());
    for (const std::string& f : files) {
        before.push_back(readText(o.caseDir / f));
    }

    // Another DEM, whose param-event.dat (the last file) cannot be put in place: the place
    // where the old one waits during the commit is taken by a folder. Every grid and the river
    // list go in place first and must be taken back.
    o.dem = dir / "second.tif";
    fs::path blocker = o.caseDir / "param-event.dat";
    blocker += ".old-" + std::to_string(::getpid());
    fs::create_directories(blocker / "taken");
    EXPECT_EQ(runTerrainOn(o, &console), 1);
    EXPECT_NE(console.find("param-event.dat cannot be put in place ("), std::string::npos)
        << console;
    EXPECT_EQ(console.find("(Success)"), std::string::npos) << console;
    EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 1) << console;
    for (std::size_t k = 0; k < files.size(); ++k) {
        EXPECT_TRUE(readText(o.caseDir / files[k]) == before[k]) << files[k];
    }
    fs::remove_all(blocker);
    for (const auto& entry : fs::recursive_directory_iterator(o.caseDir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find(".part-"), std::string::npos) << entry.path();
        EXPECT_EQ(name.find(".old-"), std::string::npos) << entry.path();
    }
    // The same run succeeds once the place is free, and changes the case.
    ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
    EXPECT_FALSE(readText(o.caseDir / files[0]) == before[0]);
}

TEST(Terrain, GeoTiffOnTheGridPassesThroughUnchanged) {
    TempDir dir;
    Terrain dem = fractalTerrain(kSpec, 5);
    dem.elevation[3 * 40 + 7] = -9999.0F;  // a no-data cell
    dem.outside[3 * 40 + 7] = 1;
    // Real files carry rounding: the origin is 1.7e-10 degrees off the 30" edge.
    ASSERT_TRUE(writeTerrainGeoTiff(dir / "dem.tif", dem, GeoTiffOptions{1.7e-10, true}));
    const auto read =
        loadDem(DemRequest{dir / "dem.tif", std::nullopt, std::nullopt}, std::nullopt);
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(read->gridSpec, kSpec);
    for (std::size_t i = 0; i < dem.elevation.size(); ++i) {
        if (i == 3 * 40 + 7) {
            EXPECT_TRUE(std::isnan(read->elevation[i]));
            EXPECT_EQ(read->outside[i], 1);
        } else {
            ASSERT_EQ(read->elevation[i], dem.elevation[i]) << i;
        }
    }
    // A box crops it on whole cells; cells of the box beyond the DEM are outside.
    const auto box = loadDem(DemRequest{dir / "dem.tif", std::nullopt,
                                        std::array<double, 4>{-117.99, 34.01, -117.5, 34.1}},
                             std::nullopt);
    ASSERT_TRUE(box) << box.error().message;
    EXPECT_EQ(box->gridSpec, (GridSpec{-118 * 120 + 2, 34 * 120 + 2, 58, 10}));
    EXPECT_EQ(box->elevation[0], dem.elevation[(30 - 2 - 10) * 40 + 2]);
    EXPECT_EQ(box->outside[37], 0);
    EXPECT_EQ(box->outside[38], 1);

    // The made case carries the unchanged values on its border, where nothing is filled.
    TerrainOptions o;
    o.dem = dir / "dem.tif";
    o.caseDir = dir / "case";
    std::string console;
    ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
    const std::vector<float> z = test::readFloats(dir / "case" / "topoData" / "modDem.bin");
    EXPECT_EQ(z[0], dem.elevation[29 * 40]);  // south-west
    EXPECT_EQ(z[1199], dem.elevation[39]);    // north-east
    const auto flowDir = readInts(dir / "case" / "topoData" / "flowDir.bin");
    const auto riverNum = readInts(dir / "case" / "topoData" / "riverNum.bin");
    const std::size_t hole = (29 - 3) * 40 + 7;
    EXPECT_EQ(flowDir[hole], 0);
    EXPECT_EQ(riverNum[hole], -1);
    EXPECT_TRUE(std::isfinite(z[hole]));
}

TEST(Terrain, TheCaseIsTheSameAtOneAndTwoThreads) {
    TempDir dir;
    // Large enough for every thread to get rows, with pits, a lake of no data and a coast.
    const GridSpec gridSpec{-118 * 120, 34 * 120, 180, 140};
    Terrain dem = fractalTerrain(gridSpec, 11);
    for (std::int32_t r = 0; r < gridSpec.rows; ++r) {
        for (std::int32_t c = 0; c < gridSpec.cols; ++c) {
            const bool lake = (r - 70) * (r - 70) + (c - 60) * (c - 60) < 150;
            if (lake || c > 170 - r / 20) {
                dem.elevation[static_cast<std::size_t>(dem.index(r, c))] = -9999.0F;
            }
        }
    }
    ASSERT_TRUE(writeTerrainGeoTiff(dir / "dem.tif", dem));
    const int saved = omp_get_max_threads();
    std::array<std::string, 2> console;
    for (const int threads : {1, 2}) {
        omp_set_num_threads(threads);
        TerrainOptions o;
        o.dem = dir / "dem.tif";
        o.caseDir = dir / ("case" + std::to_string(threads));
        o.minBasinCells = 20;
        EXPECT_EQ(runTerrainOn(o, &console[static_cast<std::size_t>(threads - 1)]), 0);
    }
    omp_set_num_threads(saved);
    // The same lines but the last, which names the folder.
    const auto body = [](const std::string& text) {
        return text.substr(0, text.find("Case written to"));
    };
    EXPECT_EQ(body(console[0]), body(console[1]));
    EXPECT_NE(console[0].find("Rivers: "), std::string::npos) << console[0];
    for (const char* file :
         {"topoData/modDem.bin", "topoData/flowDir.bin", "topoData/flowAcc.bin",
          "topoData/riverNum.bin", "topoData/riverNumList.dat", "param-event.dat"}) {
        const std::string one = readText(dir / "case1" / file);
        EXPECT_FALSE(one.empty()) << file;
        EXPECT_TRUE(one == readText(dir / "case2" / file)) << file << " differs";
    }
}

TEST(Terrain, DemWithoutCrsNeedsOne) {
    TempDir dir;
    ASSERT_TRUE(
        writeTerrainGeoTiff(dir / "dem.tif", fractalTerrain(kSpec, 5), GeoTiffOptions{0.0, false}));
    TerrainOptions o;
    o.dem = dir / "dem.tif";
    o.caseDir = dir / "case";
    std::string console;
    EXPECT_EQ(runTerrainOn(o, &console), 1);
    EXPECT_NE(console.find("has no coordinate reference system; name it with --dem-crs"),
              std::string::npos)
        << console;
    EXPECT_FALSE(fs::exists(dir / "case"));
    o.demCrs = "EPSG:4326";
    EXPECT_EQ(runTerrainOn(o, &console), 0) << console;
}

TEST(Terrain, AGridReachingThePoleIsRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    // 40 x 24 cells from 89.8 degrees north: the north edge lies on the pole.
    ASSERT_TRUE(
        writeTerrainGeoTiff(dir / "dem.tif", fractalTerrain(GridSpec{0, 10776, 40, 24}, 3)));
    TerrainOptions o;
    o.dem = dir / "dem.tif";
    o.caseDir = dir / "case";
    std::string console;
    EXPECT_EQ(runTerrainOn(o, &console), 1);
    EXPECT_NE(console.find("dem.tif: the grid runs from latitude 89.8 to 90, to or beyond a pole"),
              std::string::npos)
        << console;
    EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 1) << console;
    EXPECT_FALSE(fs::exists(dir / "case"));
    // Cropped below the pole it makes a case the simulator reads.
    o.bbox = std::array<double, 4>{0.0, 89.8, 1.0 / 3.0, 89.99};
    ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
    EXPECT_TRUE(readCaseParameters(o.caseDir).ok());
}

TEST(Terrain, OutletsSnapToTheirCellsAndNest) {
    TempDir dir;
    ASSERT_TRUE(writeTerrainGeoTiff(dir / "dem.tif", fractalTerrain(kSpec, 11)));
    TerrainOptions o;
    o.dem = dir / "dem.tif";
    o.caseDir = dir / "case";
    o.minBasinCells = 20;
    std::string console;
    ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
    // Take river 1 and a cell two steps upstream of its first interior cell as gauges.
    const auto flowAcc = readInts(dir / "case" / "topoData" / "flowAcc.bin");
    const auto riverNum = readInts(dir / "case" / "topoData" / "riverNum.bin");
    std::size_t best = 0;
    std::size_t second = 0;
    for (std::size_t i = 0; i < flowAcc.size(); ++i) {
        const auto row = i / 40;
        const auto col = i % 40;
        if (row == 0 || row == 29 || col == 0 || col == 39 || riverNum[i] != 1) {
            continue;
        }
        if (flowAcc[i] > flowAcc[best]) {
            best = i;
        }
    }
    for (std::size_t i = 0; i < flowAcc.size(); ++i) {
        const auto row = i / 40;
        const auto col = i % 40;
        const bool farFromBest =
            std::abs(static_cast<long>(row) - static_cast<long>(best / 40)) > 3
            || std::abs(static_cast<long>(col) - static_cast<long>(best % 40)) > 3;
        if (row < 2 || row > 27 || col < 2 || col > 37 || riverNum[i] != 1 || !farFromBest) {
            continue;
        }
        if (flowAcc[i] > flowAcc[second]) {
            second = i;
        }
    }
    ASSERT_GT(flowAcc[second], 1);
    const auto lonOf = [](std::size_t i) {
        return -118.0 + (static_cast<double>(i % 40) + 0.5) / 120.0;
    };
    const auto latOf = [](std::size_t i) {
        return 34.0 + (static_cast<double>(i / 40) + 0.5) / 120.0;
    };
    std::ostringstream csv;
    csv.precision(10);
    csv << "id,lat,lon,area_km2\n"
        << "downstream," << latOf(best) << ',' << lonOf(best) << ",\n"
        << "upstream," << latOf(second) << ',' << lonOf(second) << ",\n";
    writeText(dir / "gauges.csv", csv.str());
    fs::remove(dir / "case" / "param-event.dat");
    o.outlets = dir / "gauges.csv";
    o.snapRadius = 0;
    ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
    EXPECT_NE(console.find("downstream, 1, " + std::to_string(best % 40 + 1) + ", "
                           + std::to_string(best / 40 + 1) + ", 0, "),
              std::string::npos)
        << console;
    const auto nested = readInts(dir / "case" / "topoData" / "riverNum.bin");
    EXPECT_EQ(nested[second], 2);
    EXPECT_EQ(nested[best], 1);
    EXPECT_EQ(std::count(nested.begin(), nested.end(), 2), flowAcc[second]);
    EXPECT_EQ(std::count(nested.begin(), nested.end(), 1), flowAcc[best] - flowAcc[second]);
    // Both rivers are listed, so the upstream gauge's outflow enters river 1 in the run.
    writeRain(o.caseDir, 5.0F);
    std::ostringstream check;
    EXPECT_EQ(checkCase(o.caseDir, check).errors, 0) << check.str();

    // Given the area of the cell two rows away, the gauge moves there within a radius of 2.
    o.snapRadius = 2;
    writeText(dir / "gauges.csv", "id,lon,lat,area_km2\nfar," + std::to_string(lonOf(best)) + ","
                                      + std::to_string(latOf(best)) + ",1e9\n");
    fs::remove(dir / "case" / "param-event.dat");
    ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
    EXPECT_NE(console.find("1000000000"), std::string::npos) << console;
    // No cell comes near that area: the case is built, with the warning under the table.
    EXPECT_NE(console.find("\nWarning: gauge far snapped to a cell draining "), std::string::npos)
        << console;
    EXPECT_NE(console.find(" km2, but 1000000000.0 km2 is given (off by more than 20 %) within "
                           "--snap-radius 2; no cell of the grid comes within 20 %"),
              std::string::npos)
        << console;

    // Faults of the file are named with its line.
    writeText(dir / "gauges.csv", "id,lon,lat\nx,abc,34.1\n");
    EXPECT_EQ(runTerrainOn(o, &console), 1);
    EXPECT_NE(console.find("gauges.csv line 2"), std::string::npos) << console;
    writeText(dir / "gauges.csv", "id,lon,lat\nx,10.0,34.1\n");
    EXPECT_EQ(runTerrainOn(o, &console), 1);
    EXPECT_NE(console.find("Outlet x at 10, 34.1 lies off the grid."), std::string::npos)
        << console;
    writeText(dir / "gauges.csv", "id,lon,lat\nx,34.1,-117.9\n");
    EXPECT_EQ(runTerrainOn(o, &console), 1);
    EXPECT_NE(console.find("gauges.csv line 2: an outlet needs an id, a longitude and a latitude "
                           "in degrees. The latitude lies beyond 90: latitude and longitude "
                           "swapped?\n"),
              std::string::npos)
        << console;
    writeText(dir / "gauges.csv", "id,lon,lat\nx,34.1,-88\n");
    EXPECT_EQ(runTerrainOn(o, &console), 1);
    EXPECT_NE(console.find("Outlet x at 34.1, -88 lies off the grid.\n"), std::string::npos)
        << console;
}

TEST(Terrain, GivenEsriDirectionsAreTranslated) {
    TempDir dir;
    Terrain dem = fractalTerrain(kSpec, 9);
    ASSERT_TRUE(writeTerrainGeoTiff(dir / "dem.tif", dem));
    // Directions of the conditioned DEM, written in ESRI codes (outside: 255).
    Terrain conditioned = dem;
    const FlowNetwork net = conditionTerrain(conditioned, 34.0F);
    constexpr std::array<float, 9> kEsri{255, 64, 128, 1, 2, 4, 8, 16, 32};
    Terrain d8 = dem;
    for (std::size_t i = 0; i < d8.elevation.size(); ++i) {
        d8.elevation[i] = kEsri[static_cast<std::size_t>(net.flowDir[i])];
    }
    ASSERT_TRUE(writeTerrainGeoTiff(dir / "d8.tif", d8));
    TerrainOptions o;
    o.dem = dir / "dem.tif";
    o.caseDir = dir / "case";
    o.flowDir = dir / "d8.tif";
    o.flowDirCoding = FlowDirCoding::kEsri;
    std::string console;
    ASSERT_EQ(runTerrainOn(o, &console), 0) << console;
    const auto flowDir = readInts(dir / "case" / "topoData" / "flowDir.bin");
    const auto flowAcc = readInts(dir / "case" / "topoData" / "flowAcc.bin");
    for (std::int32_t r = 0; r < 30; ++r) {
        for (std::int32_t c = 0; c < 40; ++c) {
            const auto mem = static_cast<std::size_t>(r * 40 + c);
            const auto file = static_cast<std::size_t>((29 - r) * 40 + c);
            ASSERT_EQ(flowDir[file], net.flowDir[mem]) << r << "," << c;
            ASSERT_EQ(flowAcc[file], net.flowAcc[mem]) << r << "," << c;
        }
    }
    // The elevation is the DEM's own: no filling with given directions.
    EXPECT_EQ(test::readFloats(dir / "case" / "topoData" / "modDem.bin")[(29 - 5) * 40 + 5],
              dem.elevation[5 * 40 + 5]);

    // A D8 raster off the 30" grid cannot be resampled.
    Terrain shifted = d8;
    ASSERT_TRUE(writeTerrainGeoTiff(dir / "d8off.tif", shifted, GeoTiffOptions{0.001, true}));
    o.flowDir = dir / "d8off.tif";
    EXPECT_EQ(runTerrainOn(o, &console), 1);
    EXPECT_NE(console.find("is not on a 30-arc-second WGS 84 grid"), std::string::npos) << console;
}

TEST(Terrain, EsriCodes) {
    EXPECT_EQ(esriToModel(64), 1);
    EXPECT_EQ(esriToModel(128), 2);
    EXPECT_EQ(esriToModel(1), 3);
    EXPECT_EQ(esriToModel(2), 4);
    EXPECT_EQ(esriToModel(4), 5);
    EXPECT_EQ(esriToModel(8), 6);
    EXPECT_EQ(esriToModel(16), 7);
    EXPECT_EQ(esriToModel(32), 8);
    for (const std::int32_t other : {0, 3, 247, 255, -1, 256}) {
        EXPECT_EQ(esriToModel(other), 0) << other;
    }
}

TEST(CommandLine, OptionsAreCheckedBeforeAnyWork) {
    const auto run = [](std::vector<std::string> args) {
        std::ostringstream out;
        std::ostringstream err;
        const int status = runMakeCase(args, out, err);
        return std::make_pair(status, out.str());
    };
    EXPECT_EQ(run({"--help"}).first, 0);
    EXPECT_NE(run({"terrain", "--help"}).second.find("--snap-radius"), std::string::npos);
    EXPECT_EQ(run({}).first, 1);
    EXPECT_NE(run({"terrain", "a.tif"}).second.find("takes a DEM and a case folder"),
              std::string::npos);
    EXPECT_NE(run({"terrain", "a.tif", "c", "--bbox", "1", "2", "3"})
                  .second.find("--bbox needs 4 values"),
              std::string::npos);
    EXPECT_NE(
        run({"terrain", "a.tif", "c", "--bbox", "1", "5", "3", "2"}).second.find("south edge"),
        std::string::npos);
    for (const auto& [west, east] :
         {std::pair<std::string, std::string>{"-7e16", "7e16"}, {"1", "500"}, {"-180.5", "10"}}) {
        EXPECT_NE(run({"terrain", "a.tif", "c", "--bbox", west, "2", east, "3"})
                      .second.find("the west and east edges must lie within -180 to 180"),
                  std::string::npos)
            << west << " " << east;
    }
    EXPECT_NE(
        run({"terrain", "a.tif", "c", "--flow-dir", "d.tif"}).second.find("--flow-dir-coding"),
        std::string::npos);
    EXPECT_NE(run({"terrain", "a.tif", "c", "--min-basin-cells", "0"}).second.find("from 1"),
              std::string::npos);
    EXPECT_EQ(run({"terrain", "a.tif", "c", "--frobnicate"}).second,
              "Unknown option --frobnicate; see make_case --help.\n");
    // The nearest known option is named: a name part of one, a misspelling.
    EXPECT_EQ(run({"terrain", "a.tif", "c", "--crs", "EPSG:32632"}).second,
              "Unknown option --crs; did you mean --dem-crs? See make_case --help.\n");
    EXPECT_EQ(run({"terrain", "a.tif", "c", "--snap-raduis", "5"}).second,
              "Unknown option --snap-raduis; did you mean --snap-radius? See make_case --help.\n");
    EXPECT_EQ(run({"rain", "r.nc", "c", "--dem-crs", "EPSG:4326"}).second,
              "Unknown option --dem-crs; did you mean --crs? See make_case --help.\n");
    EXPECT_EQ(run({"params", "c", "--timestep", "60"}).second,
              "Unknown option --timestep of make_case params; did you mean --time-step? See "
              "make_case --help.\n");
    EXPECT_NE(
        run({"terrain", "missing.tif", "c"}).second.find("missing.tif cannot open as a raster."),
        std::string::npos);
    EXPECT_NE(run({"check"}).second.find("takes one case folder"), std::string::npos);
    EXPECT_EQ(run({"check", "/nonexistent-case"}).first, 1);
}

/// `make_case ARGS` with its exit status and console text.
std::pair<int, std::string> runCommand(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = runMakeCase(args, out, err);
    return {status, out.str()};
}

// check --state on the confluence case and the state the simulator's plan starts it from.
TEST(CheckState, APlannedStateFitsItsCaseAndEachMisfitIsAnError) {
    TempDir dir;
    test::SimCase c = test::confluenceCase();
    // The border drains off the grid, so that the accumulation agrees with the directions.
    c.flowDir = {
        1, 1, 1, 1, 1,  //
        7, 4, 5, 6, 3,  //
        7, 4, 5, 6, 3,  //
        7, 3, 5, 7, 3,  //
        5, 5, 5, 5, 5,  //
    };
    c.flowAcc = {
        1, 1, 1,  1, 1,  //
        1, 1, 1,  1, 1,  //
        1, 1, 4,  1, 1,  //
        1, 1, 9,  1, 1,  //
        1, 1, 10, 1, 1,  //
    };
    c.write(dir.path());
    fs::create_directories(dir / "output" / "image");  // the maps' folder, which check asks for
    const fs::path caseDir = dir.path();
    const auto planned = test::plannedState(caseDir, runoff::Scheme::kConservative);
    ASSERT_TRUE(planned);
    const fs::path state = dir / "hour-5.state";
    ASSERT_TRUE(writeState(state, planned->state));

    const auto [status, out] = runCommand({"check", caseDir.string(), "--state", state.string()});
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("\nhour-5.state fits the case: the conservative scheme's state at "
                       "2022-10-18T05:00:00Z, 9 cells.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("0 errors, "), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("the case is ready for runoff_sim to go on from this state.\n"))
        << out;

    // Another scheme asked for, a cell dropped, a value that is not finite: one error each.
    RunState broken = planned->state;
    const std::size_t per = broken.valuesPerCell();
    broken.positions.pop_back();
    broken.values.resize(broken.positions.size() * per);
    broken.values[1] = std::nan("");
    ASSERT_TRUE(writeState(state, broken));
    const auto [badStatus, badOut] =
        runCommand({"check", caseDir.string(), "--scheme", "linear", "--state", state.string()});
    EXPECT_EQ(badStatus, 1);
    EXPECT_NE(badOut.find("error: hour-5.state was written with the conservative scheme; this "
                          "run uses the linear scheme.\n"
                          "error: hour-5.state lacks one cell the case routes, at column 4, row "
                          "4.\n"
                          "error: hour-5.state holds one value that is not finite, at column 2, "
                          "row 2 (node 1).\n"),
              std::string::npos)
        << badOut;
    EXPECT_EQ(badOut.find("fits the case"), std::string::npos) << badOut;
    EXPECT_NE(badOut.find("3 errors, "), std::string::npos) << badOut;
    EXPECT_TRUE(badOut.ends_with("runoff_sim would fail on this case or refuse this state.\n"))
        << badOut;

    // A state that cannot be read is one error; a case that cannot be read is not reported
    // twice.
    const auto missing =
        runCommand({"check", caseDir.string(), "--state", (dir / "none.state").string()});
    EXPECT_EQ(missing.first, 1);
    EXPECT_NE(missing.second.find("error: none.state cannot be read.\n"), std::string::npos);
    fs::remove(caseDir / "topoData" / "flowDir.bin");
    const auto noCase = runCommand({"check", caseDir.string(), "--state", state.string()});
    EXPECT_EQ(noCase.first, 1);
    const std::string& text = noCase.second;
    const std::string line = text.substr(0, text.find('\n'));
    EXPECT_NE(line.find("flowDir.bin"), std::string::npos) << text;
    EXPECT_EQ(text.find(line, line.size()), std::string::npos) << text;

    // The command line.
    EXPECT_NE(runCommand({"check", "c", "--scheme", "linear"}).second.find("goes with --state"),
              std::string::npos);
    EXPECT_EQ(runCommand({"check", "c", "--state", "s", "--scheme", "fast"}).second,
              "--scheme is linear or conservative, not \"fast\".\n");
    EXPECT_EQ(runCommand({"check", "c", "--state"}).second,
              "--state needs a value; see make_case --help.\n");
    EXPECT_NE(runCommand({"check", "c", "d"}).second.find("takes one case folder"),
              std::string::npos);
    EXPECT_NE(runCommand({"check", "c", "--state", "s", "--state", "t"}).second.find("takes one"),
              std::string::npos);
}

}  // namespace
}  // namespace hydro::make_case
