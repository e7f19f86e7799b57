// ensemble on a small simulated plane: each member's series exactly what the simulator writes
// for the same values, the same files whichever number of members runs side by side, the
// quantile table and the NetCDF layout, and refused inputs that leave nothing behind.

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "case/parameter_text.h"
#include "ensemble/app.h"
#include "runoff_sim/driver.h"
#include "tests/discharge_netcdf/netcdf_read.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::ensemble {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kCols = 6;
constexpr std::int32_t kRows = 3;

/// A plane sloping east whose middle row drains east in a chain; rain rising over the day.
test::SimCase planeCase(double rainFactor = 1.0) {
    test::SimCase c;
    c.studyCols = kCols;
    c.studyRows = kRows;
    c.elevation = {10, 9, 8, 7, 6, 5, 10, 9, 8, 7, 6, 5, 10, 9, 8, 7, 6, 5};
    c.flowDir = std::vector<std::int32_t>(kCols * kRows, 3);
    c.flowAcc = {1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 4, 5, 1, 1, 1, 1, 1, 1};
    c.riverNum = {-1, -1, -1, -1, -1, -1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1, -1};
    c.initialRunoff = "0";
    c.rain = [rainFactor](int, int hour, int, int) {
        const float base = hour < 12 ? 2.5F + static_cast<float>(hour) : 0.3F;
        return static_cast<float>(static_cast<double>(base) * rainFactor);
    };
    return c;
}

std::string lonOf(std::int32_t column) {
    return std::to_string(135.0 + (column + 0.5) / 120.0);
}

struct Outcome {
    int status;
    std::string out;
};

Outcome runEnsembleOn(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream progress;
    const int status = runEnsemble(args, out, progress);
    return {status, out.str()};
}

/// The plane written to a scratch folder with two gauges and a parameter table.
class PlaneEnsemble {
public:
    PlaneEnsemble() {
        planeCase().write(dir_.path());
        test::writeText(dir_ / "gauges.csv", "id,lon,lat,threshold_m3s\nout," + lonOf(4)
                                                 + ",35.0125,0.05\nup," + lonOf(2) + ",35.0125,\n");
        test::writeText(dir_ / "sets.csv",
                        "member,manning-slope,initial-runoff,rain-factor\n"
                        "a,0.4,0,1\nb,,0.2,2\nc,0.9,0.05,0.5\n");
    }
    [[nodiscard]] const test::TempDir& dir() const { return dir_; }
    [[nodiscard]] std::vector<std::string> args(std::vector<std::string> more = {}) const {
        std::vector<std::string> a{dir_.path().string(), "--params", (dir_ / "sets.csv").string(),
                                   "--snap-radius", "0"};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }
    [[nodiscard]] fs::path out(const std::string& name) const {
        return dir_.path() / "output" / "ensemble" / name;
    }

private:
    test::TempDir dir_;
};

/// The hourly discharge the simulator writes for the plane with the member's values, at the
/// middle row's `column`.
std::vector<float> simulated(const std::string& slope, const std::string& initial,
                             double rainFactor, std::int32_t column) {
    test::TempDir dir;
    planeCase(rainFactor).write(dir.path());
    const std::string text = test::readText(dir / "param-event.dat");
    const std::vector<std::string> slopeValue{slope};
    const std::vector<std::string> initialValue{initial};
    auto edited = replaceValues(text, kManningSlopeValue - 1, slopeValue);
    EXPECT_TRUE(static_cast<bool>(edited));
    edited = replaceValues(*edited, kInitialRunoffValue - 1, initialValue);
    test::writeText(dir / "param-event.dat", *edited);
    std::ostringstream console;
    EXPECT_EQ(runoff::runRunoffSim(dir.path(), console), 0) << console.str();
    const std::vector<float> hourly = test::readFloats(dir / "output/dischargeHourly.bin");
    std::vector<float> series;
    for (std::size_t h = 0; h < 24; ++h) {
        series.push_back(hourly.at(h * kCols * kRows + kCols + static_cast<std::size_t>(column)));
    }
    return series;
}

TEST(Ensemble, EachMemberIsTheSimulatorsSeriesForItsValues) {
    const PlaneEnsemble plane;
    const Outcome run = runEnsembleOn(plane.args());
    ASSERT_EQ(run.status, 0) << run.out;
    const test::NcReader nc(plane.out("gauge_ensemble.nc"));
    ASSERT_TRUE(nc.ok());
    ASSERT_EQ(nc.dim("realization"), 3U);
    ASSERT_EQ(nc.dim("station"), 2U);
    ASSERT_EQ(nc.dim("time"), 24U);
    const std::vector<float> all = nc.floats("discharge");
    ASSERT_EQ(all.size(), 3U * 2U * 24U);
    const std::vector<std::vector<std::string>> values{
        {"0.4", "0", "1"}, {"0.6", "0.2", "2"}, {"0.9", "0.05", "0.5"}};
    for (std::size_t m = 0; m < values.size(); ++m) {
        for (std::size_t g = 0; g < 2; ++g) {
            const std::vector<float> expected =
                simulated(values[m][0], values[m][1], std::stod(values[m][2]), g == 0 ? 4 : 2);
            EXPECT_EQ(
                std::memcmp(expected.data(), all.data() + (m * 2 + g) * 24, 24 * sizeof(float)), 0)
                << "member " << m << " gauge " << g;
        }
    }
    EXPECT_NE(run.out.find("Wrote 3 members at 2 gauges over 24 hours"), std::string::npos);
}

TEST(Ensemble, NetcdfHasTheRealizationAxisAndTheMembersValues) {
    const PlaneEnsemble plane;
    ASSERT_EQ(runEnsembleOn(plane.args({"--exceedance", "0.01"})).status, 0);
    const test::NcReader nc(plane.out("gauge_ensemble.nc"));
    ASSERT_TRUE(nc.ok());
    EXPECT_EQ(nc.text("", "featureType"), "timeSeries");
    EXPECT_EQ(nc.text("", "Conventions"), "CF-1.8");
    EXPECT_EQ(nc.text("realization", "standard_name"), "realization");
    EXPECT_EQ(nc.text("station_id", "cf_role"), "timeseries_id");
    EXPECT_EQ(nc.text("time", "units"), "hours since 2000-01-01 00:00:00");
    EXPECT_EQ(nc.doubles("realization"), (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(nc.doubles("manning_slope"), (std::vector<double>{0.4, 0.6, 0.9}));
    EXPECT_EQ(nc.doubles("rain_factor"), (std::vector<double>{1, 2, 0.5}));
    const test::NcReader grid(plane.out("cell_exceedance.nc"));
    ASSERT_TRUE(grid.ok());
    const std::vector<float> share = grid.floats("exceedance_probability");
    ASSERT_EQ(share.size(), static_cast<std::size_t>(kCols * kRows));
    for (const float s : share) {
        EXPECT_TRUE(s == -9999.0F || (s >= 0.0F && s <= 1.0F)) << s;
    }
    // The files are written without prefill: crs holds a value written on purpose, not the
    // bytes the file had there, so that two runs give the same file.
    for (const test::NcReader* file : {&nc, &grid}) {
        int crs = -1;
        EXPECT_EQ(nc_get_var_int(file->id(), file->var("crs"), &crs), NC_NOERR);
        EXPECT_EQ(crs, 0);
    }
}

TEST(Ensemble, SameFilesAtOneAndTwoMemberThreads) {
    const PlaneEnsemble one;
    const PlaneEnsemble two;
    ASSERT_EQ(runEnsembleOn(one.args({"--member-threads", "1"})).status, 0);
    ASSERT_EQ(runEnsembleOn(two.args({"--member-threads", "2"})).status, 0);
    for (const char* name : {"gauge_quantiles.csv", "fan_out.svg", "fan_up.svg"}) {
        EXPECT_EQ(test::readText(one.out(name)), test::readText(two.out(name))) << name;
    }
    const test::NcReader a(one.out("gauge_ensemble.nc"));
    const test::NcReader b(two.out("gauge_ensemble.nc"));
    EXPECT_EQ(a.floats("discharge"), b.floats("discharge"));
}

TEST(Ensemble, RainFilesCrossedWithTheSets) {
    const PlaneEnsemble plane;
    const test::TempDir other;
    planeCase(3.0).write(other.path());
    const fs::path rain = plane.dir() / "wet.dat";
    fs::copy_file(other / "input/rain.dat", rain);
    const Outcome run = runEnsembleOn(plane.args({"--rain", rain.string()}));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("c_wet"), std::string::npos) << run.out;
    const test::NcReader nc(plane.out("gauge_ensemble.nc"));
    const std::vector<float> all = nc.floats("discharge");
    // Member a with the wet rain is the plane under three times the rain with a's values.
    const std::vector<float> expected = simulated("0.4", "0", 3.0, 4);
    EXPECT_EQ(std::memcmp(expected.data(), all.data(), 24 * sizeof(float)), 0);
}

TEST(Ensemble, RefusesInOneLineAndWritesNothing) {
    const PlaneEnsemble plane;
    const test::TempDir other;
    test::SimCase late = planeCase();
    late.startDay = 5;
    late.write(other.path());
    const fs::path lateRain = plane.dir() / "late.dat";
    fs::copy_file(other / "input/rain.dat", lateRain);
    const fs::path shortRain = plane.dir() / "short.dat";
    test::writeText(shortRain, "2000 1 1 0 0 0\n1 1\n1 1\n");
    int tables = 0;
    const auto sets = [&](const std::string& text) {
        const fs::path table = plane.dir() / ("bad" + std::to_string(++tables) + ".csv");
        test::writeText(table, text);
        return std::vector<std::string>{plane.dir().path().string(), "--params", table.string()};
    };
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{plane.dir().path().string()}, "needs members"},
        {sets("member,roughness\na,1\n"), "bad1.csv line 1: unknown column \"roughness\""},
        {sets("manning-slope\n0.4\nx\n"), "bad2.csv line 3, column manning-slope: \"x\" is not"},
        {sets("manning-channel\n0\n"), "bad3.csv line 2, column manning-channel: 0 must be above"},
        {sets("initial-runoff\n-1\n"), "column initial-runoff: -1 must be 0 or more"},
        {sets("rain-factor\n-0.5\n"), "column rain-factor: -0.5 must be 0 or more"},
        {sets("member,rain-factor\na,1\na,2\n"), "a is given twice"},
        {sets("rain-factor\n"), "lists no member"},
        {{plane.dir().path().string(), "--rain", lateRain.string()}, "late.dat starts at"},
        {{plane.dir().path().string(), "--rain", shortRain.string()}, "short.dat: "},
        {plane.args({"--exceedance", "-1"}), "--exceedance must be"},
        {plane.args({"--member-threads", "0"}), "--member-threads must be"},
    };
    for (const auto& [args, expected] : cases) {
        const Outcome run = runEnsembleOn(args);
        EXPECT_EQ(run.status, 1) << expected;
        EXPECT_TRUE(test::isOneShortPrintableLine(run.out)) << run.out;
        EXPECT_NE(run.out.find(expected), std::string::npos) << run.out;
        EXPECT_FALSE(fs::exists(plane.dir() / "output/ensemble")) << expected;
    }
}

TEST(Ensemble, QuantileTableHasAShareAboveEachThreshold) {
    const PlaneEnsemble plane;
    ASSERT_EQ(runEnsembleOn(plane.args()).status, 0);
    const std::string table = test::readText(plane.out("gauge_quantiles.csv"));
    EXPECT_EQ(table.substr(0, table.find('\n')), "gauge,time,q05,q25,q50,q75,q95,p_exceed");
    // 2 gauges x 24 hours; the gauge without a threshold leaves p_exceed empty.
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 1 + 48);
    const std::size_t upLine = table.find("\nup,2000-01-01T01:00:00Z,");
    ASSERT_NE(upLine, std::string::npos);
    const std::string line = table.substr(upLine + 1, table.find('\n', upLine + 1) - upLine - 1);
    EXPECT_EQ(line.back(), ',');
}

}  // namespace
}  // namespace hydro::ensemble
