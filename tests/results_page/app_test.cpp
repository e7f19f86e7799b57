// The whole program on a small simulated case: the data files hold what the page draws, and
// every failure is one line, exit status 1 and no page passed off as made.

#include "results_page/app.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "results/netcdf_file.h"
#include "results_page/page_data.h"
#include "runoff_sim/driver.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::results_page {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out;
};

std::string frameName(int hour) {
    const std::string digits = std::to_string(hour);
    return std::string(4 - digits.size(), '0') + digits + ".js";
}

Outcome runPage(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream progress;
    const int status = runResultsPage(args, out, progress);
    return {status, out.str()};
}

/// The payload of a data script: the base64 text between the last pair of quotes, decoded
/// and inflated.
std::vector<std::uint8_t> scriptPayload(const fs::path& script, std::size_t size) {
    const std::string text = test::readText(script);
    const std::size_t end = text.rfind('"');
    const std::size_t begin = text.rfind('"', end - 1) + 1;
    std::vector<std::uint8_t> packed;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = begin; i < end && text[i] != '='; ++i) {
        const std::string_view alphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        bits = (bits << 6U) | static_cast<std::uint32_t>(alphabet.find(text[i]));
        count += 6;
        if (count >= 8) {
            count -= 8;
            packed.push_back(static_cast<std::uint8_t>(bits >> static_cast<unsigned>(count)));
        }
    }
    std::vector<std::uint8_t> bytes(size);
    uLongf length = static_cast<uLongf>(size);
    EXPECT_EQ(uncompress(bytes.data(), &length, packed.data(), static_cast<uLong>(packed.size())),
              Z_OK);
    EXPECT_EQ(length, size);
    return bytes;
}

class ResultsPageRun : public ::testing::Test {
protected:
    void SetUp() override {
        test::confluenceCase().write(dir.path());
        std::ostringstream console;
        ASSERT_EQ(runoff::runRunoffSim(dir.path(), console), 0) << console.str();
    }
    test::TempDir dir;
};

TEST_F(ResultsPageRun, WritesTheFramesAndHydrographsOfTheSimulatedCells) {
    const Outcome run = runPage({dir.path().string()});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("index.html (page and data "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" 9 cells, 24 hours, 0 gauges)."), std::string::npos) << run.out;
    const fs::path page = dir / "output/page";
    EXPECT_TRUE(fs::exists(dir / "output/index.html"));
    EXPECT_TRUE(fs::exists(page / "page.js"));
    EXPECT_TRUE(fs::exists(page / "page.css"));

    // The 9 interior cells in memory order (north row first): the hourly file stores the south
    // row first, so a flipped row would pick another cell's values.
    const std::vector<float> hourly = test::readFloats(dir / "output/dischargeHourly.bin");
    const auto value = [&](int hour, int row, int col) {
        return hourly[static_cast<std::size_t>(hour * 25 + (4 - row) * 5 + col)];
    };
    float lower = 0.0F;
    float upper = 0.0F;
    for (const float v : hourly) {
        if (v > 0.0F && (lower == 0.0F || v < lower)) {
            lower = v;
        }
        upper = std::max(upper, v);
    }
    // The log scale starts at the smallest event peak of the channel cells (flow accumulation
    // above the case's threshold), far above the slopes' smallest discharge.
    const test::SimCase sim = test::confluenceCase();
    float channelPeak = 0.0F;
    for (int row = 1; row <= 3; ++row) {
        for (int col = 1; col <= 3; ++col) {
            if (sim.flowAcc[static_cast<std::size_t>(row * 5 + col)] <= sim.channelArea) {
                continue;
            }
            float peak = 0.0F;
            for (int hour = 0; hour < 24; ++hour) {
                peak = std::max(peak, value(hour, row, col));
            }
            channelPeak = channelPeak == 0.0F ? peak : std::min(channelPeak, peak);
        }
    }
    ASSERT_GT(channelPeak, lower);
    ASSERT_LT(channelPeak, upper);
    lower = channelPeak;
    const std::string meta = test::readText(page / "meta.js");
    EXPECT_NE(meta.find("\"start\":\"2000-01-01T00:00:00Z\""), std::string::npos);
    EXPECT_NE(meta.find("\"outlet\":{\"column\":3,\"row\":2}"), std::string::npos) << meta;

    for (const int hour : {0, 2, 23}) {
        SCOPED_TRACE(hour);
        const auto bytes = scriptPayload(page / "frames/log" / frameName(hour + 1), 9);
        std::size_t k = 0;
        for (int row = 1; row <= 3; ++row) {
            for (int col = 1; col <= 3; ++col) {
                EXPECT_EQ(bytes[k++], logIndex(value(hour, row, col), lower, upper))
                    << "row " << row << ", column " << col;
            }
        }
    }
    // One block holds all nine hydrographs, byte plane by byte plane, then flow accumulations.
    const auto block = scriptPayload(page / "series/0000.js", 9 * 24 * 4 + 9 * 12);
    const std::size_t n = 9 * 24;
    const auto word = [&](std::size_t i) {
        return std::uint32_t{block[i]} | (std::uint32_t{block[n + i]} << 8U)
               | (std::uint32_t{block[2 * n + i]} << 16U)
               | (std::uint32_t{block[3 * n + i]} << 24U);
    };
    // Cell 7 is the centre-south cell (row 3, column 2), the outlet, hour 5.
    EXPECT_EQ(std::bit_cast<float>(word(7 * 24 + 4)), value(4, 3, 2));
    const std::size_t flowAccAt = 4 * n + 7 * 4;
    EXPECT_EQ(block[flowAccAt], 9);
}

TEST_F(ResultsPageRun, TheCaseNoteGoesUnderTheTitleAndNoNoteLeavesTheMetaAsItWas) {
    ASSERT_EQ(runPage({dir.path().string()}).status, 0);
    const std::string plain = test::readText(dir / "output/page/meta.js");
    EXPECT_TRUE(plain.starts_with("RP.meta={\"title\":\"" + dir.path().filename().string()
                                  + "\",\"cols\":5,"))
        << plain.substr(0, 80);

    test::writeText(dir / "case-note.txt", "Not a real place: \"stretched\" 5x.\n");
    ASSERT_EQ(runPage({dir.path().string()}).status, 0);
    const std::string noted = test::readText(dir / "output/page/meta.js");
    const std::string note = ",\"note\":\"Not a real place: \\\"stretched\\\" 5x.\"";
    const std::size_t at = noted.find(note);
    ASSERT_NE(at, std::string::npos) << noted.substr(0, 120);
    // Nothing else of the description changes.
    EXPECT_EQ(noted.substr(0, at) + noted.substr(at + note.size()), plain);

    test::writeText(dir / "case-note.txt", std::string(1001, 'x'));
    const Outcome bad = runPage({dir.path().string()});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, (dir / "case-note.txt").string()
                           + ": the first line is the case's note, at most 1000 bytes; it has "
                             "1001.\n");
    EXPECT_EQ(test::readText(dir / "output/page/meta.js"), noted);
}

TEST_F(ResultsPageRun, MarksGaugesAndRefusesABrokenGaugeTable) {
    test::writeText(dir / "output/gauge_cells.csv",
                    "id,column,row,lon,lat,upstream_km2,river\nOUT,3,2,135.02,35.01,7.1,1\n");
    test::writeText(dir / "output/gauge_observed.csv",
                    "time,OUT\n2000-01-01T03:00:00Z,0.5\n2000-01-01T04:00:00Z,\n");
    Outcome run = runPage({dir.path().string()});
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string meta = test::readText(dir / "output/page/meta.js");
    EXPECT_NE(meta.find("\"gauges\":[{\"id\":\"OUT\",\"column\":3,\"row\":2,"), std::string::npos)
        << meta;
    EXPECT_NE(meta.find("\"observed\":[[3,0.5]]"), std::string::npos) << meta;

    // A table that cannot be read leaves the page made before untouched.
    test::writeText(dir / "output/gauge_observed.csv", "time,ELSEWHERE\n");
    run = runPage({dir.path().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "gauge_observed.csv line 1: gauge \"ELSEWHERE\" is not in gauge_cells.csv.\n");
    EXPECT_EQ(test::readText(dir / "output/page/meta.js"), meta);
}

TEST_F(ResultsPageRun, DrawsTheEnsemblesFanAtItsGaugesAndRefusesABrokenTable) {
    test::writeText(dir / "output/gauge_cells.csv",
                    "id,column,row,lon,lat,upstream_km2,river\nOUT,3,2,135.02,35.01,7.1,1\n");
    ASSERT_EQ(runPage({dir.path().string()}).status, 0);
    const std::string plain = test::readText(dir / "output/page/meta.js");

    fs::create_directories(dir / "output/ensemble");
    test::writeText(dir / "output/ensemble/gauge_quantiles.csv",
                    "gauge,time,q05,q25,q50,q75,q95\n"
                    "UP,2000-01-01T01:00:00Z,0,0,0,0,0\n"
                    "OUT,2000-01-01T01:00:00Z,0.125,0.25,0.5,0.75,1\n"
                    "OUT,2000-01-01T02:00:00Z,1,2,3,4,5.5\n");
    Outcome run = runPage({dir.path().string()});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(
        run.out.starts_with("Note: ensemble/gauge_quantiles.csv has lines for gauges not "
                            "in gauge_cells.csv (\"UP\"); they are left out.\nWrote "))
        << run.out;
    const std::string fan = ",\"fan\":[[1,0.125,0.25,0.5,0.75,1],[2,1,2,3,4,5.5]]";
    std::string meta = test::readText(dir / "output/page/meta.js");
    std::size_t at = meta.find(fan);
    ASSERT_NE(at, std::string::npos) << meta.substr(0, 400);
    // Without the ensemble's NetCDF the member count is not known; nothing else changes.
    EXPECT_EQ(meta.substr(0, at) + meta.substr(at + fan.size()), plain);

    // The member count is the length of the NetCDF file's realization axis.
    {
        results::NetcdfFile nc;
        ASSERT_TRUE(nc.create(dir / "output/ensemble/gauge_ensemble.nc"));
        nc.defineDimension("realization", 5);
        nc.endDefinitions();
        ASSERT_TRUE(nc.close()) << nc.error();
    }
    ASSERT_EQ(runPage({dir.path().string()}).status, 0);
    meta = test::readText(dir / "output/page/meta.js");
    EXPECT_NE(meta.find(fan + "}],\"fanMembers\":5,\"simulated\":"), std::string::npos)
        << meta.substr(0, 400);

    // A broken table leaves the page made before untouched.
    test::writeText(dir / "output/ensemble/gauge_quantiles.csv",
                    "gauge,time,q05,q25,q50,q75,q95\nOUT,2000-01-01T01:00:00Z,1,2,3,x,5\n");
    run = runPage({dir.path().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "ensemble/gauge_quantiles.csv line 2, column q75: \"x\" is not a discharge "
              "in m3/s.\n");
    EXPECT_EQ(test::readText(dir / "output/page/meta.js"), meta);
}

TEST_F(ResultsPageRun, RefusesDischargeThatDoesNotBelongToTheCase) {
    const fs::path bin = dir / "output/dischargeHourly.bin";
    std::vector<float> hourly = test::readFloats(bin);
    hourly.resize(hourly.size() - 25);
    test::writeFloats(bin, hourly);
    Outcome run = runPage({dir.path().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "dischargeHourly.bin holds 23 frames of 5 columns x 5 rows, but 24 are needed.\n");

    // A simulated cell without discharge: the output of another river list.
    hourly.resize(hourly.size() + 25, 1.0F);
    hourly[12 * 25 + 2 * 5 + 2] = -9999.0F;
    test::writeFloats(bin, hourly);
    run = runPage({dir.path().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "dischargeHourly.bin holds -9999 in hour 13 at column 3, row 3, a cell the case "
              "simulates: the output does not belong to this case.\n");
    EXPECT_FALSE(fs::exists(dir / "output/index.html"));
    EXPECT_FALSE(fs::exists(dir / "output/page"));

    // A value that is not a number is named as such: no run writes one.
    hourly[12 * 25 + 2 * 5 + 2] = std::nanf("");
    test::writeFloats(bin, hourly);
    run = runPage({dir.path().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "dischargeHourly.bin holds NaN in hour 13 at column 3, row 3: the run that wrote it "
              "failed, or the file is damaged.\n");
    EXPECT_FALSE(fs::exists(dir / "output/index.html"));
}

TEST(ResultsPageArguments, HelpUsageAndMissingCase) {
    Outcome run = runPage({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Usage: results_page CASE_DIR\n", 0), 0U);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"a", "b"}, {"--colour"}}) {
        run = runPage(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "Usage: results_page CASE_DIR (results_page --help tells more)\n");
    }
    // A folder that holds nothing of a case, a file, a case without its output folder.
    test::TempDir empty;
    run = runPage({empty.path().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "this is not a case folder: no param-event.dat in " + empty.path().string() + ".\n");
    test::writeText(empty / "index.html", "");
    run = runPage({(empty / "index.html").string()});
    EXPECT_EQ(run.out, "this is not a case folder: " + (empty / "index.html").string()
                           + " is a file; give the folder that holds param-event.dat.\n");
    fs::create_directories(empty / "input");
    run = runPage({empty.path().string()});
    EXPECT_EQ(run.out, (empty / "output").string() + " is not a folder: create it with: mkdir -p "
                           + (empty / "output").string() + "\n");
}

}  // namespace
}  // namespace hydro::results_page
