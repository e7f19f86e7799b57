// gauge_series on small simulated cases: the simulator's water balance of a plane under
// constant rain on the console (and a note without it), the series exactly as stored in the
// hourly grid (CSV and NetCDF), observations aligned and scored, and refused inputs that leave
// nothing behind.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "gauge_series/app.h"
#include "results/gauge_table.h"
#include "results/run_record.h"
#include "runoff_sim/driver.h"
#include "tests/discharge_netcdf/netcdf_read.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::gauges {

using results::splitCsvLine;
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kCols = 6;
constexpr std::int32_t kRows = 3;
constexpr float kRain = 10.0F;  // mm/h, every hour, everywhere

/// A plane sloping east: the middle row's four interior cells drain east in a chain to the
/// border; one day of constant rain and no initial runoff.
test::SimCase planeCase() {
    test::SimCase c;
    c.studyCols = kCols;
    c.studyRows = kRows;
    c.elevation = {
        10, 9, 8, 7, 6, 5,  //
        10, 9, 8, 7, 6, 5,  //
        10, 9, 8, 7, 6, 5,  //
    };
    c.flowDir = std::vector<std::int32_t>(kCols * kRows, 3);
    c.flowAcc = {
        1, 1, 1, 1, 1, 1,  //
        1, 1, 2, 3, 4, 5,  //
        1, 1, 1, 1, 1, 1,  //
    };
    c.riverNum = {
        -1, -1, -1, -1, -1, -1,  //
        1,  1,  1,  1,  1,  1,   //
        -1, -1, -1, -1, -1, -1,  //
    };
    c.initialRunoff = "0";
    c.rain = [](int, int, int, int) { return kRain; };
    return c;
}

/// Position in a frame (rows from the south) of the middle row's cell in `column` (0 west).
std::size_t middle(std::int32_t column) {
    return static_cast<std::size_t>(kCols + column);
}

struct Outcome {
    int status;
    std::string out;
};

Outcome runGauges(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream progress;
    const int status = runGaugeSeries(args, out, progress);
    return {status, out.str()};
}

/// A simulated plane case with the gauge list written beside it.
class PlaneCase {
public:
    PlaneCase() {
        planeCase().write(dir_.path());
        std::ostringstream console;
        status_ = runoff::runRunoffSim(dir_.path(), console);
        // Centres of the outlet (column 4) and of column 2, in the middle row.
        test::writeText(dir_ / "gauges.csv",
                        "id,lon,lat\nout," + lonOf(4) + ",35.0125\nup," + lonOf(2) + ",35.0125\n");
        hourly_ = test::readFloats(dir_ / "output/dischargeHourly.bin");
    }
    [[nodiscard]] bool simulated() const { return status_ == 0 && hourly_.size() == 24U * 18U; }
    [[nodiscard]] const test::TempDir& dir() const { return dir_; }
    [[nodiscard]] float hourly(std::size_t hour, std::size_t position) const {
        return hourly_[hour * kCols * kRows + position];
    }
    std::vector<std::string> args(std::vector<std::string> more = {}) const {
        std::vector<std::string> a{dir_.path().string(), (dir_ / "gauges.csv").string(),
                                   "--snap-radius", "0"};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }

private:
    static std::string lonOf(std::int32_t column) {
        return std::to_string(135.0 + (column + 0.5) / 120.0);
    }
    test::TempDir dir_;
    int status_ = -1;
    std::vector<float> hourly_;
};

std::vector<std::vector<std::string>> csvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        rows.push_back(splitCsvLine(line));
    }
    return rows;
}

/// The lines of `text` from the one that starts with `first` on; empty without it.
std::vector<std::string> linesFrom(const std::string& text, const std::string& first) {
    std::vector<std::string> lines;
    const std::size_t at = text.find(first);
    if (at == std::string::npos) {
        return lines;
    }
    std::istringstream in(text.substr(at));
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> tokens(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    std::string t;
    while (in >> t) {
        out.push_back(t);
    }
    return out;
}

std::string fixedText(double v, int decimals) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
}

TEST(GaugeSeries, WaterBalanceIsTheSimulatorsOwn) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    const fs::path file = plane.dir() / "output/water_balance.csv";
    const std::string recorded = test::readText(file);
    const Outcome run = runGauges(plane.args());
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(test::readText(file), recorded);
    const auto balance = results::parseWaterBalance(recorded, "water_balance.csv");
    ASSERT_TRUE(balance) << balance.error().message;
    ASSERT_EQ(balance->rivers.size(), 1U);
    const results::BalanceRow& r = balance->rivers[0];
    // By hand: the middle row's centre lies at 35 degrees + 45 arc-seconds (126045 s); its
    // width is cos(126045 / 3600 / 180 * 3.14) * 926.6 m in single precision. Four cells take
    // 10 mm/h for 24 hours. The scheme takes the rain of a 600 s step as the mean of its two
    // ends, so the first step gets half of it: half a step of the day's 144 is not taken in.
    const float width = static_cast<float>(std::cos(126045.0 / 3600.0 / 180.0 * 3.14)) * 926.6F;
    const double rain = 4.0 * 24.0 * 10.0 * 0.001 * 926.6 * static_cast<double>(width);
    EXPECT_NEAR(r.rain, rain * (1.0 - 0.5 / 144.0), rain * 1e-9);
    // The water that left is what the outlet's hourly means carried, to their float rounding.
    double outflow = 0.0;
    for (std::size_t h = 0; h < 24; ++h) {
        outflow += static_cast<double>(plane.hourly(h, middle(4))) * 3600.0;
    }
    EXPECT_NEAR(r.outflow, outflow, outflow * 1e-6);

    const std::vector<std::string> table =
        linesFrom(run.out, "Water balance of the listed rivers (m3):\n");
    ASSERT_EQ(table.size(), 6U) << run.out;
    EXPECT_EQ(table[1],
              " river            rain          inflow         outflow   storage start     "
              "storage end  residual % runoff coef.");
    for (std::size_t k = 2; k < 4; ++k) {
        SCOPED_TRACE(table[k]);
        EXPECT_EQ(table[k].size(), table[1].size());
        const std::vector<std::string> t = tokens(table[k]);
        ASSERT_EQ(t.size(), 8U);
        // One river: the total is the river's.
        const results::BalanceRow& row = k == 2 ? r : balance->all;
        EXPECT_EQ(t[0], k == 2 ? "1" : "all");
        EXPECT_EQ(t[1], fixedText(row.rain, 0));
        EXPECT_EQ(t[2], "0");
        EXPECT_EQ(t[3], fixedText(row.outflow, 0));
        // Dry channels at the start; water still on the plane when the day ends.
        EXPECT_EQ(t[4], "0");
        EXPECT_EQ(t[5], fixedText(row.finalStorage, 0));
        EXPECT_GT(row.finalStorage, 0.0);
        ASSERT_TRUE(row.residualShare.has_value());
        EXPECT_EQ(t[6], fixedText(*row.residualShare * 100.0, 2));
        EXPECT_EQ(t[7], fixedText(row.outflow / row.rain, 4));
        EXPECT_GT(std::stod(t[7]), 0.0);
        EXPECT_LT(std::stod(t[7]), 1.0);
    }
    EXPECT_EQ(table[4],
              "Inflow: from other listed rivers. Residual: in % of the rain. Runoff "
              "coefficient: outflow / (rain + inflow).");
    // No river drains into another: no table of catchments.
    EXPECT_TRUE(table[5].starts_with("Wrote 2 gauge series of 24 hours")) << table[5];
}

TEST(GaugeSeries, NestedRiversShowTheirInflowAndCatchmentsAsRecorded) {
    // The plane's west half is river 2, which drains into river 1, the east half.
    test::SimCase c = planeCase();
    c.riverNum = {
        -1, -1, -1, -1, -1, -1,  //
        2,  2,  2,  1,  1,  1,   //
        -1, -1, -1, -1, -1, -1,  //
    };
    c.riverList = "1 0 0 0 0 0 0.0 0.0\n2 0 0 0 0 0 0.0 0.0\n";
    const test::TempDir dir;
    c.write(dir.path());
    std::ostringstream console;
    ASSERT_EQ(runoff::runRunoffSim(dir.path(), console), 0) << console.str();
    test::writeText(dir / "gauges.csv", "id,lon,lat\nout,135.0375,35.0125\n");
    const Outcome run =
        runGauges({dir.path().string(), (dir / "gauges.csv").string(), "--snap-radius", "0"});
    ASSERT_EQ(run.status, 0) << run.out;
    const auto balance = results::parseWaterBalance(
        test::readText(dir / "output/water_balance.csv"), "water_balance.csv");
    ASSERT_TRUE(balance) << balance.error().message;
    ASSERT_EQ(balance->rivers.size(), 2U);
    const results::BalanceRow& outer = balance->rivers[0];
    ASSERT_TRUE(outer.catchment && outer.runoffCoefficient && outer.catchment->runoffCoefficient);
    EXPECT_GT(outer.inflow, 0.0);

    const std::vector<std::string> rivers =
        linesFrom(run.out, "Water balance of the listed rivers (m3):\n");
    ASSERT_GE(rivers.size(), 3U) << run.out;
    const std::vector<std::string> t = tokens(rivers[2]);
    ASSERT_EQ(t.size(), 8U);
    EXPECT_EQ(t[2], fixedText(outer.inflow, 0));
    EXPECT_EQ(t[7], fixedText(*outer.runoffCoefficient, 4));

    const std::vector<std::string> table =
        linesFrom(run.out,
                  "Water balance of each river's catchment: the river and the rivers upstream "
                  "of it (m3):\n");
    ASSERT_EQ(table.size(), 6U) << run.out;
    EXPECT_EQ(table[1],
              " river  rivers            rain         outflow   storage start     storage end  "
              "residual % runoff coef.");
    const results::CatchmentBalance& cb = *outer.catchment;
    EXPECT_EQ(tokens(table[2]),
              (std::vector<std::string>{
                  "1", "2", fixedText(cb.rain, 0), fixedText(cb.outflow, 0),
                  fixedText(cb.initialStorage, 0), fixedText(cb.finalStorage, 0),
                  fixedText(*cb.residualShare * 100.0, 2), fixedText(*cb.runoffCoefficient, 4)}));
    // The whole plane's water leaves through river 1: its catchment is all of it.
    EXPECT_EQ(cb.outflow, balance->all.outflow);
    EXPECT_EQ(cb.rain, balance->all.rain);
    EXPECT_TRUE(tokens(table[3]).at(1) == "1") << table[3];
    EXPECT_EQ(table[4], "Runoff coefficient of a catchment: its outflow / its rain.");
}

TEST(GaugeSeries, WithoutTheSimulatorsBalanceTheRestIsWritten) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    const fs::path out = plane.dir() / "output";
    fs::remove(out / "water_balance.csv");
    const Outcome run = runGauges(plane.args());
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("\nNo water balance: output/water_balance.csv is missing; runoff_sim "
                           "writes it at the end of every run.\nWrote 2 gauge series"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Water balance of"), std::string::npos);
    EXPECT_FALSE(fs::exists(out / "water_balance.csv"));
    for (const char* name :
         {"gauge_cells.csv", "gauge_discharge.csv", "gauge_out.svg", "gauge_up.svg"}) {
        EXPECT_TRUE(fs::exists(out / name)) << name;
    }
    test::NcReader nc(out / "gauge_discharge.nc");
    ASSERT_TRUE(nc.ok());
    EXPECT_EQ(nc.text("", "scheme"), "(missing)");
    EXPECT_EQ(nc.text("", "scheme_description"), "(missing)");

    // The table an earlier gauge_series wrote under the same name is no simulator's balance,
    // and stays as it was.
    const std::string earlier =
        "river,cells,outlet_column,outlet_row,rain_m3,outflow_m3,difference_m3,"
        "runoff_coefficient\n1,4,5,2,675224.5,412345.6,262878.9,0.6107\n";
    test::writeText(out / "water_balance.csv", earlier);
    const Outcome again = runGauges(plane.args());
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("\nNo water balance: output/water_balance.csv holds gauge_series' "
                             "earlier table, not the simulator's; runoff_sim writes it at the "
                             "end of every run.\n"),
              std::string::npos)
        << again.out;
    EXPECT_EQ(test::readText(out / "water_balance.csv"), earlier);
}

TEST(GaugeSeries, SeriesAreTheStoredValues) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    const Outcome run = runGauges(plane.args());
    ASSERT_EQ(run.status, 0) << run.out;
    const fs::path out = plane.dir() / "output";

    const auto cells = csvRows(test::readText(out / "gauge_cells.csv"));
    ASSERT_EQ(cells.size(), 3U);
    EXPECT_EQ(cells[0], (std::vector<std::string>{"id", "column", "row", "lon", "lat",
                                                  "upstream_km2", "river"}));
    EXPECT_EQ(cells[1][0], "out");
    EXPECT_EQ(cells[1][1], "5");
    EXPECT_EQ(cells[1][2], "2");
    EXPECT_EQ(std::stod(cells[1][3]), static_cast<double>(135.0F) + 4.5 / 120.0);
    EXPECT_EQ(std::stod(cells[1][4]), static_cast<double>(35.0F) + 1.5 / 120.0);
    EXPECT_EQ(cells[1][6], "1");
    EXPECT_EQ(cells[2][1], "3");

    const auto series = csvRows(test::readText(out / "gauge_discharge.csv"));
    ASSERT_EQ(series.size(), 25U);
    EXPECT_EQ(series[0], (std::vector<std::string>{"time", "out", "up"}));
    EXPECT_EQ(series[1][0], "2000-01-01T01:00:00Z");
    EXPECT_EQ(series[24][0], "2000-01-02T00:00:00Z");
    for (std::size_t h = 0; h < 24; ++h) {
        SCOPED_TRACE(h);
        EXPECT_EQ(std::strtof(series[h + 1][1].c_str(), nullptr), plane.hourly(h, middle(4)));
        EXPECT_EQ(std::strtof(series[h + 1][2].c_str(), nullptr), plane.hourly(h, middle(2)));
    }
    EXPECT_EQ(series[24][1], shortest(plane.hourly(23, middle(4))));

    test::NcReader nc(out / "gauge_discharge.nc");
    ASSERT_TRUE(nc.ok());
    EXPECT_EQ(nc.text("", "featureType"), "timeSeries");
    EXPECT_EQ(nc.text("", "Conventions"), "CF-1.8");
    EXPECT_EQ(nc.text("", "scheme"), "linear");
    EXPECT_EQ(nc.text("", "scheme_description"), results::schemeDescription("linear"));
    EXPECT_EQ(nc.text("station_id", "cf_role"), "timeseries_id");
    EXPECT_EQ(nc.text("discharge", "coordinates"), "time lat lon station_id");
    const std::vector<float> q = nc.floats("discharge");
    ASSERT_EQ(q.size(), 48U);
    for (std::size_t h = 0; h < 24; ++h) {
        EXPECT_EQ(q[h], plane.hourly(h, middle(4)));
        EXPECT_EQ(q[24 + h], plane.hourly(h, middle(2)));
    }
    EXPECT_EQ(nc.doubles("lon")[0], std::stod(cells[1][3]));
    EXPECT_EQ(nc.doubles("lat")[1], std::stod(cells[2][4]));
    EXPECT_EQ(nc.text("time", "units"), "hours since 2000-01-01 00:00:00");

    const std::string svg = test::readText(out / "gauge_out.svg");
    EXPECT_NE(svg.find("<polyline class=\"discharge\""), std::string::npos);
    EXPECT_EQ(svg.find("class=\"observed\""), std::string::npos);
    EXPECT_NE(svg.find(">Gauge out: river 1, column 5, row 2</text>"), std::string::npos);
}

TEST(GaugeSeries, ObservationsAlignedAndScored) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    // "out" is observed as 1.1 times the simulation, except hour 5 (missing); "up" is
    // observed constant, so its NSE and KGE are undefined.
    std::string obs = "time,up,out\n";
    for (int h = 1; h <= 24; ++h) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "2000-01-%02dT%02d:00:00Z", h == 24 ? 2 : 1, h % 24);
        const double v =
            1.1 * static_cast<double>(plane.hourly(static_cast<std::size_t>(h - 1), middle(4)));
        obs += std::string(stamp) + ",2," + (h == 5 ? "" : shortest(v)) + "\n";
    }
    test::writeText(plane.dir() / "obs.csv", obs);
    const Outcome run = runGauges(plane.args({"--observed", (plane.dir() / "obs.csv").string()}));
    ASSERT_EQ(run.status, 0) << run.out;
    const fs::path out = plane.dir() / "output";

    const auto observed = csvRows(test::readText(out / "gauge_observed.csv"));
    ASSERT_EQ(observed.size(), 25U);
    EXPECT_EQ(observed[0], (std::vector<std::string>{"time", "out", "up"}));
    EXPECT_EQ(observed[5], (std::vector<std::string>{"2000-01-01T05:00:00Z", "", "2"}));
    EXPECT_EQ(observed[6][2], "2");

    const std::string skillText = test::readText(out / "gauge_skill.csv");
    EXPECT_EQ(skillText.find("nan"), std::string::npos);
    EXPECT_EQ(skillText.find("inf"), std::string::npos);
    const auto skill = csvRows(skillText);
    ASSERT_EQ(skill.size(), 3U);
    EXPECT_EQ(skill[0], (std::vector<std::string>{"id", "n", "nse", "kge", "kge_prime", "pbias_pct",
                                                  "peak_sim", "peak_obs", "peak_error_pct",
                                                  "peak_timing_h"}));
    ASSERT_EQ(skill[1].size(), 10U);
    EXPECT_EQ(skill[1][0], "out");
    EXPECT_EQ(skill[1][1], "23");
    // A simulation that is 1/1.1 of the observations everywhere: r = 1, beta = alpha = 1/1.1,
    // gamma = 1, pbias = -100 * 0.1 / 1.1, no peak shift.
    const double b = 1.0 / 1.1;
    EXPECT_NEAR(std::stod(skill[1][3]), 1.0 - std::sqrt(2.0) * (1.0 - b), 1e-6);
    EXPECT_NEAR(std::stod(skill[1][4]), b, 1e-6);
    EXPECT_NEAR(std::stod(skill[1][5]), -100.0 * 0.1 / 1.1, 1e-6);
    EXPECT_EQ(skill[1][9], "0");
    ASSERT_EQ(skill[2].size(), 10U);
    EXPECT_EQ(skill[2][0], "up");
    EXPECT_EQ(skill[2][1], "24");
    EXPECT_EQ(skill[2][2], "");
    EXPECT_EQ(skill[2][3], "");
    EXPECT_EQ(skill[2][4], "");
    EXPECT_NE(skill[2][5], "");

    const std::string svg = test::readText(out / "gauge_out.svg");
    EXPECT_NE(svg.find("<g class=\"observed\""), std::string::npos);
    EXPECT_NE(svg.find(">Observed (m\xC2\xB3/s)</text>"), std::string::npos);
}

TEST(GaugeSeries, ObservationStampsWithAZoneOrWithoutSecondsCount) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    // Hours 1, 2 and 3 of the event in three forms; hour 3 twice is one time given twice.
    test::writeText(plane.dir() / "obs.csv",
                    "time,out\n2000-01-01T01:00:00+00:00,1\n2000-01-01T02:00Z,2\n"
                    "2000-01-01T05:00+02:00,3\n");
    const Outcome run = runGauges(plane.args({"--observed", (plane.dir() / "obs.csv").string()}));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("outside the event's hours"), std::string::npos) << run.out;
    const auto skill = csvRows(test::readText(plane.dir() / "output/gauge_skill.csv"));
    ASSERT_EQ(skill.size(), 3U);
    EXPECT_EQ(skill[1][0], "out");
    EXPECT_EQ(skill[1][1], "3");
    const auto observed = csvRows(test::readText(plane.dir() / "output/gauge_observed.csv"));
    ASSERT_EQ(observed.size(), 25U);
    EXPECT_EQ(observed[3], (std::vector<std::string>{"2000-01-01T03:00:00Z", "3", ""}));

    test::writeText(plane.dir() / "obs.csv",
                    "time,out\n2000-01-01T03:00:00Z,1\n2000-01-01T04:00+01:00,2\n");
    const Outcome twice = runGauges(plane.args({"--observed", (plane.dir() / "obs.csv").string()}));
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.out.find("line 3: the time 2000-01-01T04:00+01:00 is given twice."),
              std::string::npos)
        << twice.out;
}

TEST(GaugeSeries, GaugeWithoutObservationsGetsAnEmptyRow) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    test::writeText(plane.dir() / "obs.csv", "time,out\n2000-01-01T01:00:00Z,1\n");
    const Outcome run = runGauges(plane.args({"--observed", (plane.dir() / "obs.csv").string()}));
    ASSERT_EQ(run.status, 0) << run.out;
    const auto skill = csvRows(test::readText(plane.dir() / "output/gauge_skill.csv"));
    ASSERT_EQ(skill.size(), 3U);
    EXPECT_EQ(skill[2], (std::vector<std::string>{"up", "0", "", "", "", "", "", "", "", ""}));
    EXPECT_EQ(skill[1][1], "1");
}

TEST(GaugeSeries, AGaugeSnappedFarFromItsAreaIsWarnedAbout) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    const Outcome plain = runGauges(plane.args());
    ASSERT_EQ(plain.status, 0) << plain.out;
    // The outlet (column 4) drains five cells, column 3 four: 10 % more than the outlet's
    // area is within 20 % of the outlet's cell only.
    const auto cells = csvRows(test::readText(plane.dir() / "output/gauge_cells.csv"));
    ASSERT_GE(cells.size(), 2U);
    const double outlet = std::stod(cells[1][5]);
    test::writeText(plane.dir() / "area.csv", "id,lon,lat,area_km2\nup,"
                                                  + fixedText(135.0 + 2.5 / 120.0, 6) + ",35.0125,"
                                                  + fixedText(outlet * 1.1, 3) + "\n");
    const std::vector<std::string> args{plane.dir().path().string(),
                                        (plane.dir() / "area.csv").string(), "--snap-radius"};
    std::vector<std::string> near = args;
    near.emplace_back("0");
    const Outcome run = runGauges(near);
    ASSERT_EQ(run.status, 0) << run.out;
    const std::vector<std::string> lines = linesFrom(run.out, "Gauges (");
    ASSERT_GE(lines.size(), 4U) << run.out;
    EXPECT_NE(lines[1].find(" distance (cells) "), std::string::npos) << lines[1];
    EXPECT_EQ(lines[3], "Warning: gauge up snapped to a cell draining "
                            + fixedText(std::stod(tokens(lines[2])[4]), 1) + " km2, but "
                            + fixedText(outlet * 1.1, 1)
                            + " km2 is given (off by more than 20 %) within --snap-radius 0; "
                              "--snap-radius 2 reaches a cell within 20 %.");
    std::vector<std::string> far = args;
    far.emplace_back("2");
    const Outcome wider = runGauges(far);
    ASSERT_EQ(wider.status, 0) << wider.out;
    EXPECT_EQ(wider.out.find("Warning:"), std::string::npos) << wider.out;
}

TEST(GaugeSeries, RefusedInputsLeaveNoOutput) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    const fs::path out = plane.dir() / "output";
    const auto before = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> files = before();
    {
        SCOPED_TRACE("a gauge in the sea");
        test::writeText(plane.dir() / "sea.csv",
                        "id,lon,lat\nout,135.0375,35.0125\nsea,135.02,35.02\n");
        const Outcome run = runGauges({plane.dir().path().string(),
                                       (plane.dir() / "sea.csv").string(), "--snap-radius", "0"});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(
            run.out.starts_with("Gauge sea has no cell of a listed river off the border "
                                "within 0 cells"))
            << run.out;
    }
    {
        SCOPED_TRACE("a bad radius");
        const Outcome run = runGauges(plane.args({"--snap-radius", "-1"}));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out,
                  "--snap-radius must be a whole number of cells from 0 to 100000, not "
                  "\"-1\".\n");
    }
    {
        SCOPED_TRACE("an hourly grid a frame short");
        std::vector<float> grid = test::readFloats(out / "dischargeHourly.bin");
        const std::vector<float> whole = grid;
        grid.resize(grid.size() - kCols * kRows);
        test::writeFloats(out / "dischargeHourly.bin", grid);
        const Outcome run = runGauges(plane.args());
        test::writeFloats(out / "dischargeHourly.bin", whole);
        EXPECT_EQ(run.status, 1);
        // The error line alone: the gauge table is printed only after a run that succeeds.
        EXPECT_EQ(
            run.out,
            "dischargeHourly.bin holds 23 frames of 6 columns x 3 rows, but 24 are needed.\n");
    }
    {
        SCOPED_TRACE("a water balance cut short");
        const fs::path file = out / "water_balance.csv";
        const std::string whole = test::readText(file);
        test::writeText(file, whole.substr(0, whole.find("\nlinear,all,") + 1));
        const Outcome run = runGauges(plane.args());
        test::writeText(file, whole);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "output/water_balance.csv ends before its row \"all\".\n");
    }
    {
        SCOPED_TRACE("the output folder given for the case");
        const Outcome run = runGauges({out.string(), (plane.dir() / "gauges.csv").string()});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "this is not a case folder: no param-event.dat in " + out.string()
                               + "; the case folder is " + plane.dir().path().string() + ".\n");
    }
    {
        SCOPED_TRACE("missing observation file");
        const Outcome run = runGauges(plane.args({"--observed", "/nonexistent/obs.csv"}));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "/nonexistent/obs.csv cannot open.\n");
    }
    EXPECT_EQ(before(), files);
}

TEST(GaugeSeries, InputsAreEchoedShortAndPrintable) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    const fs::path out = plane.dir() / "output";
    {
        SCOPED_TRACE("a megabyte observation cell");
        test::writeText(plane.dir() / "obs.csv",
                        "time,out\n2000-01-01T01:00:00Z," + std::string(1000000, '9') + "x\n");
        const Outcome run =
            runGauges(plane.args({"--observed", (plane.dir() / "obs.csv").string()}));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(test::isOneShortPrintableLine(run.out)) << run.out.substr(0, 300);
        EXPECT_TRUE(run.out.ends_with("not \"" + std::string(40, '9') + "...\".\n")) << run.out;
    }
    {
        SCOPED_TRACE("terminal control bytes in a gauge id");
        test::writeText(plane.dir() / "esc.csv", "id,lon,lat\nup\x1b[2J\x07,135.02,35.0125\n");
        const Outcome run = runGauges({plane.dir().path().string(),
                                       (plane.dir() / "esc.csv").string(), "--snap-radius", "0"});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(test::isOneShortPrintableLine(run.out)) << run.out;
        EXPECT_NE(run.out.find("\"up\\x1B[2J\\x07\""), std::string::npos) << run.out;
    }
    {
        SCOPED_TRACE("control bytes in the snapping radius");
        const Outcome run = runGauges(plane.args({"--snap-radius", "1\x1b]0;x\x07"}));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(test::isOneShortPrintableLine(run.out)) << run.out;
    }
    {
        SCOPED_TRACE("a missing hourly grid");
        const fs::path hourly = out / "dischargeHourly.bin";
        fs::rename(hourly, plane.dir() / "moved.bin");
        const Outcome run = runGauges(plane.args());
        fs::rename(plane.dir() / "moved.bin", hourly);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(test::isOneShortPrintableLine(run.out)) << run.out;
    }
    {
        SCOPED_TRACE("an observation column that names no gauge, with control bytes");
        test::writeText(plane.dir() / "obs.csv",
                        "time,out,\x1b[31mred\n2000-01-01T01:00:00Z,1,2\n");
        const Outcome run =
            runGauges(plane.args({"--observed", (plane.dir() / "obs.csv").string()}));
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find("Note: the observations' column \\x1B[31mred names no gauge.\n"),
                  std::string::npos)
            << run.out;
    }
}

TEST(GaugeSeries, AValueThatIsNotFiniteIsRefused) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    const fs::path out = plane.dir() / "output";
    std::vector<float> grid = test::readFloats(out / "dischargeHourly.bin");
    for (const float bad : {std::nanf(""), -INFINITY}) {
        SCOPED_TRACE(bad);
        grid[4 * kCols * kRows + middle(4)] = bad;
        test::writeFloats(out / "dischargeHourly.bin", grid);
        const Outcome run = runGauges(plane.args());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, std::string("dischargeHourly.bin holds ")
                               + (std::isnan(bad) ? "NaN" : "-inf")
                               + " in hour 5 at column 5, row 2: the run that wrote it failed, or the file is damaged.\n");
        EXPECT_FALSE(fs::exists(out / "gauge_discharge.csv"));
        EXPECT_FALSE(fs::exists(out / "gauge_discharge.nc"));
    }
}

TEST(GaugeSeries, AFileThatCannotBeWrittenLeavesTheEarlierOutputs) {
    const PlaneCase plane;
    ASSERT_TRUE(plane.simulated());
    ASSERT_EQ(runGauges(plane.args()).status, 0);
    const fs::path out = plane.dir() / "output";
    const std::string cells = test::readText(out / "gauge_cells.csv");
    const auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    // A folder where the temporary hydrograph of gauge "up" goes: its file cannot be created,
    // after the tables and the NetCDF file were written.
    const std::vector<std::string> before = listing();
    const fs::path blocker = out / ("gauge_up.svg.part-" + std::to_string(::getpid()));
    fs::create_directory(blocker);
    test::writeText(plane.dir() / "gauges.csv",
                    "id,lon,lat\nup," + std::to_string(135.0 + 2.5 / 120.0) + ",35.0125\n");
    const Outcome run = runGauges(plane.args());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1),
              "gauge_up.svg cannot be created in " + out.string() + " (Is a directory).\n");
    // No temporary stays behind (the empty folder in the way counts as one).
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(test::readText(out / "gauge_cells.csv"), cells);
}

}  // namespace
}  // namespace hydro::gauges
