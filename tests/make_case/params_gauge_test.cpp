// make_case params and rain-gauges on a case made by make_case terrain: refusals leave the case
// as it was, whatever params accepts the simulator runs, and the gauge interpolation against
// hand computations.

#include <gtest/gtest.h>

#include <sstream>

#include "case/case.h"
#include "case/event_start.h"
#include "make_case/app.h"
#include "make_case/gauge_rain.h"
#include "make_case/params_command.h"
#include "make_case/synthetic_dem.h"
#include "runoff_sim/driver.h"
#include "tests/support/test_support.h"

namespace hydro::make_case {
namespace {

namespace fs = std::filesystem;
using test::readText;
using test::TempDir;
using test::writeText;

int run(const std::vector<std::string>& args, std::string* console = nullptr) {
    std::ostringstream out;
    std::ostringstream progress;
    const int status = runMakeCase(args, out, progress);
    if (console != nullptr) {
        *console = out.str();
    }
    return status;
}

/// A terrain case of 40 x 30 cells at 10 E 45 N with one day of gauge rain.
class ParamsCase : public ::testing::Test {
protected:
    void SetUp() override {
        const GridSpec gridSpec{10 * 120, 45 * 120, 40, 30};
        ASSERT_TRUE(writeTerrainGeoTiff(dir_ / "dem.tif", fractalTerrain(gridSpec, 5)));
        std::string console;
        ASSERT_EQ(run({"terrain", (dir_ / "dem.tif").string(), caseDir().string(),
                       "--min-basin-cells", "20"},
                      &console),
                  0)
            << console;
        writeText(dir_ / "gauges.csv",
                  "time,id,lon,lat,mm\n"
                  "2022-10-18T05:00:00Z,a,10.1,45.1,4\n"
                  "2022-10-18T05:00:00Z,b,10.3,45.2,8\n"
                  "2022-10-18T06:00:00Z,a,10.1,45.1,1.5\n");
        ASSERT_EQ(run({"rain-gauges", (dir_ / "gauges.csv").string(), caseDir().string(),
                       "--spacing", "0.1"},
                      &console),
                  0)
            << console;
    }
    [[nodiscard]] fs::path caseDir() const { return dir_ / "case"; }
    [[nodiscard]] std::string params() const { return readText(caseDir() / "param-event.dat"); }

    TempDir dir_;
};

TEST_F(ParamsCase, RefusesWhatTheSimulatorRefusesAndChangesNothing) {
    const std::string before = params();
    const std::vector<std::pair<std::string, std::string>> bad{
        {"--time-step", "0"},       {"--time-step", "3601"},      {"--time-step", "1.5"},
        {"--space-steps", "0"},     {"--weight", "-0.1"},         {"--weight", "1.01"},
        {"--weight", "nan"},        {"--manning-slope", "0"},     {"--manning-channel", "-1"},
        {"--channel-cells", "-1"},  {"--initial-runoff", "-0.5"}, {"--initial-runoff", "1e999"},
        {"--manning-slope", "abc"}, {"--weight", "0.5 0.6"},      {"--weight", ""}};
    for (const auto& [option, value] : bad) {
        std::string console;
        EXPECT_EQ(run({"params", caseDir().string(), option, value}, &console), 1)
            << option << ' ' << value;
        EXPECT_EQ(console.find('\n'), console.size() - 1) << console;
        EXPECT_EQ(params(), before) << option << ' ' << value;
    }
    std::string console;
    // One bad value among good ones: nothing is set.
    EXPECT_EQ(
        run({"params", caseDir().string(), "--weight", "0.8", "--space-steps", "0"}, &console), 1);
    EXPECT_NE(console.find("value 13 (finite difference space steps)"), std::string::npos)
        << console;
    EXPECT_EQ(params(), before);
    EXPECT_EQ(run({"params", caseDir().string()}, &console), 1);
    EXPECT_EQ(run({"params", caseDir().string(), "--days", "2"}, &console), 1);
    EXPECT_EQ(run({"params", (dir_ / "nowhere").string(), "--weight", "0.5"}, &console), 1);
    EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
    for (const auto& entry : fs::directory_iterator(caseDir())) {
        EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << entry.path();
    }
}

TEST_F(ParamsCase, RefusalsEchoOnlyShortPrintableTokens) {
    const std::string before = params();
    const std::vector<std::vector<std::string>> bad{
        {"--weight", "0.5\x1b[2J\x07"},
        {"--weight", std::string(4000, '7') + "x"},
        {"--\x1b]0;title\x07" + std::string(100000, 'x'), "1"},
    };
    for (const std::vector<std::string>& options : bad) {
        std::vector<std::string> args{"params", caseDir().string()};
        args.insert(args.end(), options.begin(), options.end());
        std::string console;
        EXPECT_EQ(run(args, &console), 1);
        EXPECT_TRUE(test::isOneShortPrintableLine(console)) << console.substr(0, 300);
        EXPECT_EQ(params(), before);
    }
}

TEST_F(ParamsCase, RainGaugesRefuseYearsOutsideTheCalendar) {
    const std::string before = readText(caseDir() / "input" / "rain.dat");
    writeText(dir_ / "year0.csv", "time,id,lon,lat,mm\n0000-10-18T05:00:00Z,a,10.1,45.1,4\n");
    std::string console;
    ASSERT_EQ(run({"rain-gauges", (dir_ / "year0.csv").string(), caseDir().string()}, &console), 1);
    EXPECT_EQ(console, (dir_ / "year0.csv").string()
                           + " line 2: the time \"0000-10-18T05:00:00Z\" lies outside the years 1 "
                             "to 9999.\n");
    writeText(dir_ / "late.csv", "time,id,lon,lat,mm\n9999-12-31T05:00:00Z,a,10.1,45.1,4\n");
    ASSERT_EQ(run({"rain-gauges", (dir_ / "late.csv").string(), caseDir().string()}, &console), 1);
    EXPECT_NE(console.find("lies outside the years 1 to 9999"), std::string::npos) << console;
    EXPECT_EQ(readText(caseDir() / "input" / "rain.dat"), before);
}

TEST_F(ParamsCase, RainGaugesSayAFolderGivenAsTheTableCannotBeRead) {
    const std::string before = readText(caseDir() / "input" / "rain.dat");
    const fs::path folder = dir_ / "records";
    fs::create_directories(folder);
    std::string console;
    ASSERT_EQ(run({"rain-gauges", folder.string(), caseDir().string()}, &console), 1);
    EXPECT_EQ(console, folder.string()
                           + " cannot be read: it is a folder, not a table of rain-gauge records "
                             "(time,id,lon,lat,mm).\n");
    EXPECT_EQ(readText(caseDir() / "input" / "rain.dat"), before);
}

TEST_F(ParamsCase, TheSimulatorRunsWithEverythingParamsAccepts) {
    const std::vector<std::vector<std::string>> settings{
        {"--time-step", "3600", "--space-steps", "1", "--weight", "1", "--channel-cells", "0",
         "--initial-runoff", "0"},
        {"--time-step", "7", "--space-steps", "2", "--weight", "0", "--manning-slope", "0.05",
         "--manning-channel", "5", "--initial-runoff", "20"},
        {"--time-step", "900", "--weight", "0.5", "--channel-cells", "2000000000"},
    };
    // Accepted values run; whether a scheme stays stable at a long explicit step is physics, so
    // these settings keep it stable.
    for (const auto& s : settings) {
        std::vector<std::string> args{"params", caseDir().string()};
        args.insert(args.end(), s.begin(), s.end());
        std::string console;
        ASSERT_EQ(run(args, &console), 0) << console;
        EXPECT_EQ(console.find("Warning") != std::string::npos, s[1] == "7") << console;
        std::ostringstream sim;
        EXPECT_EQ(runoff::runRunoffSim(caseDir(), sim), 0) << s[1] << '\n' << sim.str();
    }
    // Only the named values change; the rain grid and the study grid stay.
    const std::string text = params();
    std::istringstream in(text);
    std::vector<std::string> v;
    for (std::string t; in >> t;) {
        v.push_back(t);
    }
    ASSERT_EQ(v.size(), 18U);
    EXPECT_EQ(v[0], "40");
    EXPECT_EQ(v[4], "4");  // 40 cells of 30" at 0.1 degrees
    EXPECT_EQ(v[6], "0.1");
    EXPECT_EQ(v[8], "10.05");
    EXPECT_EQ(v[11], "900");
    EXPECT_EQ(v[12], "2");
    EXPECT_EQ(v[13], "0.5");
    EXPECT_EQ(v[14], "0.05");
    EXPECT_EQ(v[16], "2000000000");
}

TEST(ReplaceParameterValues, KeepsEveryOtherByte) {
    EXPECT_EQ(*replaceParameterValues("1 2\n 3\t4\n", {{2, "x"}, {4, "yy"}}), "1 x\n 3\tyy\n");
    EXPECT_FALSE(replaceParameterValues("1 2 3", {{4, "x"}}));
}

TEST(GaugeInterpolation, ThreeGaugesByHand) {
    // Along the equator distances are proportional to the longitude difference: from 0.5 E
    // the gauges at 0, 1 and 3 E lie 0.5, 0.5 and 2.5 degrees away, weights 4, 4 and 0.16.
    const GaugeRecord a{0, "a", 0.0, 0.0, 2.0};
    const GaugeRecord b{0, "b", 1.0, 0.0, 4.0};
    const GaugeRecord c{0, "c", 3.0, 0.0, 10.0};
    const std::vector<const GaugeRecord*> all{&a, &b, &c};
    EXPECT_NEAR(inverseDistance(all, 0.5, 0.0), (4 * 2.0 + 4 * 4.0 + 0.16 * 10.0) / 8.16, 1e-12);
    // Great circles, not degrees: 1 degree of latitude from the equator is as far as 1 degree
    // of longitude along it, but at 60 N one degree of longitude is half as far.
    EXPECT_NEAR(greatCircleKm(0, 0, 0, 1), greatCircleKm(0, 0, 1, 0), 1e-9);
    EXPECT_NEAR(greatCircleKm(0, 60, 1, 60), 0.5 * greatCircleKm(0, 0, 1, 0), 0.01);
    // A point on a gauge takes its value, whatever the others say.
    EXPECT_EQ(inverseDistance(all, 1.0, 0.0), 4.0);
    EXPECT_EQ(inverseDistance({&c}, -5.0, 20.0), 10.0);
}

TEST(GaugeInterpolation, GridHoursPaddingAndFileText) {
    // 120 x 120 cells of 30" from 0 E 0 N: 2 x 2 points 0.5 degrees apart at 0.25 and 0.75.
    EventParameters study;
    study.studyCols = 120;
    study.studyRows = 120;
    const std::vector<GaugeRecord> records{
        {1666069200, "a", 0.25, 0.25, 6.0},  // 2022-10-18T05:00:00Z, on the south-west point
        {1666069200, "b", 1.25, 0.25, 3.0},
        {1666069200, "c", 0.75, 1.25, 9.0},
        {1666072800, "a", 0.25, 0.25, 2.0},  // the next hour, a alone
    };
    const auto rain = gridGaugeRain(records, study, 0.0, 0.0, 0.5);
    ASSERT_TRUE(rain.ok()) << rain.error().message;
    EXPECT_EQ(rain->params.rainCols, 2);
    EXPECT_EQ(rain->params.rainRows, 2);
    EXPECT_EQ(rain->params.days, 1);
    EXPECT_EQ(rain->gaugeHours, 2);
    ASSERT_EQ(rain->values.size(), 24U * 4U);
    EXPECT_EQ(rain->values[0], 6.0F);
    // South-east point: a and b 0.5 degrees along 0.25 N, c 1 degree north: weights 4, 4, 1.
    EXPECT_NEAR(rain->values[1], (4 * 6.0 + 4 * 3.0 + 9.0) / 9.0, 1e-4);
    for (std::size_t k = 4; k < 8; ++k) {
        EXPECT_EQ(rain->values[k], 2.0F);
    }
    for (std::size_t k = 8; k < rain->values.size(); ++k) {
        EXPECT_EQ(rain->values[k], 0.0F);
    }

    // The file: headers of each hour's start, the north row first, values that read back.
    std::istringstream text(rainFileText(*rain));
    std::vector<std::string> lines;
    for (std::string l; std::getline(text, l);) {
        lines.push_back(l);
    }
    ASSERT_EQ(lines.size(), 24U * 3U);
    EXPECT_EQ(lines[0], "2022 10 18 5 0 0");
    EXPECT_EQ(lines[3], "2022 10 18 6 0 0");
    EXPECT_EQ(lines[69], "2022 10 19 4 0 0");
    EXPECT_EQ(lines[5], "2 2");
    EXPECT_EQ(lines[72 - 1], "0 0");
    std::istringstream south(lines[2]);
    std::istringstream north(lines[1]);
    float v[4] = {};
    south >> v[0] >> v[1];
    north >> v[2] >> v[3];
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(v[k], rain->values[k]) << k;
    }
}

TEST(GaugeRecords, ReadAndRefused) {
    std::istringstream good(
        "time , id,lon,lat,mm\r\n2024-02-29T23:00Z,x,7,50,0.5\n\n2024-03-01T00:00:00+00:00,x,7,"
        "50,0\n2024-03-01T03:00+02:00,x,7,50,0\n");
    const auto r = readGaugeRecords(good, "g.csv");
    ASSERT_TRUE(r.ok()) << r.error().message;
    ASSERT_EQ(r->size(), 3U);
    EXPECT_EQ((*r)[1].hourStart - (*r)[0].hourStart, 3600);
    EXPECT_EQ((*r)[2].hourStart - (*r)[0].hourStart, 2 * 3600);  // 01:00 UTC
    EXPECT_EQ(fromUnixSeconds((*r)[0].hourStart).isoAfter(0), "2024-02-29T23:00:00Z");

    const std::vector<std::pair<std::string, std::string>> bad{
        {"t,id,lon,lat,mm\n", "header"},
        {"time,id,lon,lat,mm\n", "no records"},
        {"time,id,lon,lat,mm\n2023-02-29T00:00Z,x,7,50,1\n", "line 2"},
        {"time,id,lon,lat,mm\nyesterday,x,7,50,1\n", "\"yesterday\" is not an ISO 8601 time"},
        {"time,id,lon,lat,mm\n0000-12-31T00:00Z,x,7,50,1\n", "lies outside the years 1 to 9999"},
        {"time,id,lon,lat,mm\n2023-02-28T00:00+01:0,x,7,50,1\n", "UTC offset"},
        {"time,id,lon,lat,mm\n2023-02-28T00:00Z,x,7,50\n", "5 fields"},
        {"time,id,lon,lat,mm\n2023-02-28T00:00Z,x,7,50,-1\n", "from 0 to 1000"},
        {"time,id,lon,lat,mm\n2023-02-28T00:00Z,x,7,50,9999\n", "from 0 to 1000"},
        {"time,id,lon,lat,mm\n2023-02-28T00:00Z,x,7,95,1\n", "-90 to 90"},
        {"time,id,lon,lat,mm\n2023-02-28T00:00Z,,7,50,1\n", "id is empty"},
    };
    for (const auto& [csv, expected] : bad) {
        std::istringstream in(csv);
        const auto e = readGaugeRecords(in, "g.csv");
        ASSERT_FALSE(e.ok()) << csv;
        EXPECT_NE(e.error().message.find(expected), std::string::npos) << e.error().message;
        EXPECT_EQ(e.error().message.rfind("g.csv", 0), 0U) << e.error().message;
    }

    EventParameters study;
    study.studyCols = 12;
    study.studyRows = 12;
    const auto refused = [&](std::vector<GaugeRecord> records, const std::string& expected,
                             double spacing = 0.1) {
        const auto e = gridGaugeRain(records, study, 0.0, 0.0, spacing);
        ASSERT_FALSE(e.ok());
        EXPECT_NE(e.error().message.find(expected), std::string::npos) << e.error().message;
    };
    refused({{0, "a", 0, 0, 1}, {7200, "a", 0, 0, 1}},
            "No gauge reports the hour starting "
            "1970-01-01T01:00:00Z");
    refused({{0, "a", 0, 0, 1}, {1800, "b", 0, 0, 1}}, "not a whole number of hours");
    refused({{0, "a", 0, 0, 1}, {0, "a", 0, 0, 2}}, "listed twice");
    refused({{0, "\x01", 0, 0, 1}, {0, "\x01", 0, 0, 2}}, "Gauge \\x01 is listed twice");
    refused({{0, "a", 0, 0, 1}, {1800, "\x7f", 0, 0, 1}}, "The record of gauge \\x7F at ");
    refused({{0, "a", 0, 0, 1}, {3600LL * 24 * 400, "a", 0, 0, 1}}, "(a year)");
    refused({{0, "a", 0, 0, 1}}, "--spacing", 0.0);
}

}  // namespace
}  // namespace hydro::make_case
