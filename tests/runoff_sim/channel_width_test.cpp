// A run with a channel width law of its own: a wider channel slows the wave down to the outlet,
// the run records the law in its water balance and its states, a run of another law refuses
// those states, and a value the option cannot take ends the program with one line.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "results/run_record.h"
#include "runoff_sim/driver.h"
#include "runoff_sim/options.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

namespace fs = std::filesystem;
using runoff::RunOptions;

/// The example basin (199 x 107 cells, two days) with sub-steps of 10 minutes.
void writeExample(const fs::path& dir) {
    const fs::path example(HYDRO_EXAMPLE_DIR);
    fs::create_directories(dir / "output");
    fs::copy(example / "topoData", dir / "topoData", fs::copy_options::recursive);
    fs::create_directories(dir / "input");
    fs::copy_file(example / "input" / "rain.dat", dir / "input" / "rain.dat");
    std::istringstream params(readText(example / "param-event.dat"));
    std::ostringstream out;
    std::string line;
    for (int n = 1; std::getline(params, line); ++n) {
        out << (n == 7 ? "600" : line) << '\n';
    }
    writeText(dir / "param-event.dat", out.str());
}

struct SimRun {
    int status = -1;
    std::string console;
};

SimRun simulate(const fs::path& dir, const RunOptions& options) {
    std::ostringstream console;
    SimRun r;
    r.status = runoff::runRunoffSim(dir, console, options);
    r.console = console.str();
    return r;
}

constexpr std::size_t kColumns = 199;
constexpr std::size_t kFrame = kColumns * 107;
/// The last routed cell of the main river before it leaves the grid (column 2, row 23 from 1).
constexpr std::size_t kOutlet = 22 * kColumns + 1;

/// The hourly series of the outlet cell.
std::vector<float> outletSeries(const fs::path& dir) {
    const std::vector<float> hourly = readFloats(dir / "output" / "dischargeHourly.bin");
    std::vector<float> q;
    for (std::size_t at = kOutlet; at < hourly.size(); at += kFrame) {
        q.push_back(hourly[at]);
    }
    return q;
}

/// The centroid of a series in hours: sum (h + 0.5) q / sum q.
double centroid(const std::vector<float>& q) {
    double moment = 0.0;
    double sum = 0.0;
    for (std::size_t h = 0; h < q.size(); ++h) {
        moment = moment + (static_cast<double>(h) + 0.5) * static_cast<double>(q[h]);
        sum = sum + static_cast<double>(q[h]);
    }
    return moment / sum;
}

TEST(ChannelWidth, AWiderChannelDelaysTheOutletPeakAndTheRunRecordsItsLaw) {
    omp_set_num_threads(2);
    TempDir tmp;
    writeExample(tmp / "model");
    writeExample(tmp / "wide");
    ASSERT_EQ(simulate(tmp / "model", {}).status, 0);
    RunOptions wide;
    wide.channelWidth = {10.61722301, 0.685081138};  // ten times the model's widths
    wide.stateEvery = 24;
    wide.stateDir = tmp / "states";
    const SimRun wideRun = simulate(tmp / "wide", wide);
    ASSERT_EQ(wideRun.status, 0) << wideRun.console;

    const std::vector<float> model = outletSeries(tmp / "model");
    const std::vector<float> wider = outletSeries(tmp / "wide");
    ASSERT_EQ(model.size(), 48U);
    ASSERT_EQ(wider.size(), 48U);
    const auto peakHour = [](const std::vector<float>& q) {
        return std::max_element(q.begin(), q.end()) - q.begin();
    };
    EXPECT_GT(peakHour(wider), peakHour(model));
    EXPECT_GT(centroid(wider), centroid(model) + 1.0);
    EXPECT_LT(*std::max_element(wider.begin(), wider.end()),
              *std::max_element(model.begin(), model.end()));

    // The model's run records no law; the other run records its own in every row.
    const std::string modelTable = readText(tmp / "model" / "output" / "water_balance.csv");
    EXPECT_EQ(modelTable.find("channel_width"), std::string::npos);
    const auto recorded = results::readWaterBalance(tmp / "wide" / "output");
    ASSERT_TRUE(recorded);
    ASSERT_TRUE(recorded->balance);
    EXPECT_EQ(recorded->balance->channelWidth, wide.channelWidth);
    const std::string wideTable = readText(tmp / "wide" / "output" / "water_balance.csv");
    EXPECT_NE(wideTable.find(",channel_width_coefficient_m,channel_width_exponent\n"),
              std::string::npos);
    EXPECT_NE(wideTable.find(",10.61722301,0.685081138\n"), std::string::npos);

    // A run of the model's law does not go on from the other law's states; a run of that law
    // does.
    RunOptions resumeModel;
    resumeModel.resume = tmp / "states";
    const SimRun refused = simulate(tmp / "model", resumeModel);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.console.find(
                  " was written with the channel width B = 10.61722301 * A^0.685081138 m (A in "
                  "km2); this run has B = 1.061722301 * A^0.685081138 m (A in km2) "
                  "(--channel-width 1.061722301,0.685081138).\n"),
              std::string::npos)
        << refused.console;
    RunOptions resumeWide = resumeModel;
    resumeWide.channelWidth = wide.channelWidth;
    EXPECT_EQ(simulate(tmp / "wide", resumeWide).status, 0);
}

TEST(ChannelWidth, AValueTheOptionCannotTakeEndsTheProgramWithOneLine) {
    const auto parsed = runoff::parseCommandLine({"--channel-width", "1,0.5", "--scheme=linear"});
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->run.channelWidth, (ChannelWidthLaw{1.0, 0.5}));
    EXPECT_TRUE(runoff::parseCommandLine({})->run.channelWidth.isModel());
    EXPECT_EQ(runoff::parseCommandLine({"--channel-width=2,1"})->run.channelWidth,
              (ChannelWidthLaw{2.0, 1.0}));
    EXPECT_EQ(runoff::parseCommandLine({"--channel-width"}).error().message,
              "--channel-width needs a value: COEF,EXP.");
    TempDir tmp;
    for (const char* bad : {"0,0.5", "1,2", "wide"}) {
        const ShellOutcome run =
            runShell("cd '" + tmp.path().string()
                     + "' && '" RUNOFF_SIM_PROGRAM "' --channel-width '" + bad + "'");
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_TRUE(isOneShortPrintableLine(run.console)) << run.console;
        EXPECT_EQ(run.console, std::string("--channel-width must be ") + kChannelWidthForm
                                   + ", not \"" + bad + "\".\n");
    }
}

}  // namespace
}  // namespace hydro::test
