// calibrate on a small simulated plane: the search's draws and their bounds, the objectives, a
// twin experiment the search recovers, the same history at any thread count and after a
// stop, refusals that leave nothing behind, and the best values applied to the case.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "calibrate/app.h"
#include "calibrate/objective.h"
#include "calibrate/search.h"
#include "case/event_start.h"
#include "common/number_stream.h"
#include "members/member_runs.h"
#include "results/event_time.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::calibrate {
namespace {

namespace fs = std::filesystem;

TEST(Search, DrawsAreReproducibleAndStayInTheirBounds) {
    Random a(7);
    Random b(7);
    Random c(8);
    bool differs = false;
    for (int k = 0; k < 1000; ++k) {
        const double u = a.uniform();
        ASSERT_EQ(u, b.uniform());
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        differs = differs || u != c.uniform();
        ASSERT_LT(a.below(3), 3U);
        static_cast<void>(b.below(3));
    }
    EXPECT_TRUE(differs);
    // The normal draws have the moments of a standard normal.
    Random n(3);
    double sum = 0.0;
    double squares = 0.0;
    constexpr int kDraws = 20000;
    for (int k = 0; k < kDraws; ++k) {
        const double z = n.normal();
        sum += z;
        squares += z * z;
    }
    EXPECT_NEAR(sum / kDraws, 0.0, 0.03);
    EXPECT_NEAR(squares / kDraws, 1.0, 0.05);
}

TEST(Search, RangesMapLinearlyOrLogarithmically) {
    const Range linear{members::Parameter::kManningSlope, 0.1, 0.5, false};
    const Range log{members::Parameter::kManningChannel, 0.01, 1.0, true};
    EXPECT_DOUBLE_EQ(linear.valueAt(0.5), 0.3);
    EXPECT_NEAR(log.valueAt(0.5), 0.1, 1e-15);
    EXPECT_NEAR(log.unitOf(0.1), 0.5, 1e-15);
    EXPECT_DOUBLE_EQ(linear.unitOf(0.7), 1.0);  // outside: the bound
}

TEST(Search, DdsPerturbsFewerDimensionsAsTheBudgetRunsOutAndKeepsTheBest) {
    const std::vector<Range> ranges(6, Range{members::Parameter::kManningSlope, 0.0, 1.0, false});
    Dds dds(ranges, 400, 11);
    dds.startAt(Point(6, 0.5));
    std::vector<std::size_t> changed;
    std::vector<double> best(6, 0.5);
    for (std::vector<Point> batch = dds.propose(); !batch.empty(); batch = dds.propose()) {
        ASSERT_EQ(batch.size(), 1U);
        std::size_t moved = 0;
        for (std::size_t d = 0; d < 6; ++d) {
            ASSERT_GE(batch[0][d], 0.0);
            ASSERT_LE(batch[0][d], 1.0);
            moved += batch[0][d] != best[d] ? 1U : 0U;
        }
        changed.push_back(moved);
        // Maximise -distance to 0.2: the best point approaches it.
        double distance = 0.0;
        for (const double u : batch[0]) {
            distance += (u - 0.2) * (u - 0.2);
        }
        const std::optional<double> f = -distance;
        dds.accept(std::span(&f, 1));
        if (dds.bestRun() == dds.nextRun() - 1) {
            best = batch[0];
        }
    }
    ASSERT_EQ(changed.size(), 400U);
    const auto meanMoved = [&](std::size_t from, std::size_t to) {
        double s = 0.0;
        for (std::size_t k = from; k < to; ++k) {
            s += static_cast<double>(changed[k]);
        }
        return s / static_cast<double>(to - from);
    };
    EXPECT_GT(meanMoved(1, 50), 2.0 * meanMoved(300, 400));
    EXPECT_GE(*std::min_element(changed.begin() + 1, changed.end()), 1U);
    for (const double u : best) {
        EXPECT_NEAR(u, 0.2, 0.1);
    }
}

TEST(Search, LatinHypercubeFillsEveryStratumOnceAndSpearmanRanks) {
    const std::vector<Point> points = latinHypercube(3, 50, 5);
    for (std::size_t d = 0; d < 3; ++d) {
        std::set<int> strata;
        for (const Point& p : points) {
            strata.insert(static_cast<int>(std::floor(p[d] * 50.0)));
        }
        EXPECT_EQ(strata.size(), 50U);
    }
    const std::vector<double> x{1, 2, 3, 4, 5};
    const std::vector<std::optional<double>> up{10.0, 20.0, 20.0, 40.0, 50.0};
    const std::vector<std::optional<double>> down{5.0, 4.0, std::nullopt, 2.0, 1.0};
    EXPECT_NEAR(*spearman(x, up), 0.9746794344808963, 1e-12);  // a tie shares its mean rank
    EXPECT_DOUBLE_EQ(*spearman(x, down), -1.0);
    EXPECT_FALSE(spearman(x, std::vector<std::optional<double>>(5, 1.0)));
}

TEST(Objective, ScoresLeaveOutTheWarmUpAndRunsThatWentUnstable) {
    const std::vector<float> sim{100.0F, 1.0F, 2.0F, 3.0F, 4.0F};
    const std::vector<std::optional<double>> obs{1.0, 1.0, 2.0, 3.0, 4.0};
    EXPECT_LT(*scoreGauge(sim, obs, 0).skill.kge, 0.5);
    const GaugeScore warm = scoreGauge(sim, obs, 1);
    EXPECT_EQ(warm.skill.n, 4);
    EXPECT_DOUBLE_EQ(*warm.skill.kge, 1.0);
    EXPECT_DOUBLE_EQ(*warm.logNse, 1.0);
    std::vector<float> unstable = sim;
    unstable[0] = std::nanf("");
    EXPECT_EQ(scoreGauge(unstable, obs, 1).skill.n, 0);
    // A weighted mean; a gauge of weight 0 does not count even without a score.
    const std::vector<GaugeScore> scores{warm, scoreGauge(unstable, obs, 1)};
    EXPECT_FALSE(combine(Objective::kKge, scores, std::vector<double>{1.0, 1.0}));
    EXPECT_DOUBLE_EQ(*combine(Objective::kKge, scores, std::vector<double>{2.0, 0.0}), 1.0);
    EXPECT_NEAR(noSkillScore(Objective::kKge), -0.41421356, 1e-8);
    EXPECT_EQ(noSkillScore(Objective::kNse), 0.0);
}

constexpr std::int32_t kCols = 6;
constexpr std::int32_t kRows = 3;

/// A plane sloping east whose middle row drains east in a chain, two days of rain rising and
/// then stopping.
test::SimCase planeCase() {
    test::SimCase c;
    c.studyCols = kCols;
    c.studyRows = kRows;
    c.days = 2;
    c.elevation = {10, 9, 8, 7, 6, 5, 10, 9, 8, 7, 6, 5, 10, 9, 8, 7, 6, 5};
    c.flowDir = std::vector<std::int32_t>(kCols * kRows, 3);
    c.flowAcc = {1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 4, 5, 1, 1, 1, 1, 1, 1};
    c.riverNum = {-1, -1, -1, -1, -1, -1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1, -1};
    c.initialRunoff = "0";
    c.rain = [](int day, int hour, int, int) {
        return day == 1 && hour < 12 ? 2.5F + static_cast<float>(hour) : 0.0F;
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

Outcome calibrateWith(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream progress;
    const int status = runCalibrate(args, out, progress);
    return {status, out.str()};
}

/// The plane in a scratch folder, a gauge at its outlet and observations the model itself
/// made with known values (times a noise of a fixed seed).
class Twin {
public:
    explicit Twin(double slope = 0.3) {
        planeCase().write(dir_.path());
        test::writeText(dir_ / "gauges.csv", "id,lon,lat\nout," + lonOf(4) + ",35.0125\n");
        auto data = readCase(dir_.path());
        auto rain = readCaseRainfall(dir_.path(), data->params);
        const CellIndex outlet = data->grid.index(1, 4);
        auto runner =
            members::MemberRunner::create(*data, *rain, runoff::Scheme::kLinear, {outlet});
        members::MemberValues truth = runner->caseValues();
        truth.manningSlope = slope;
        const auto series = runner->run({truth, nullptr})->series[0];
        const auto start = readEventStart(CasePaths{dir_.path()}.rainfall());
        Random noise(2024);
        std::string obs = "time,out\n";
        for (std::size_t h = 0; h < series.size(); ++h) {
            const double q = static_cast<double>(series[h]) * (1.0 + 0.02 * noise.normal());
            obs += results::isoHourEnd(*start, static_cast<std::int64_t>(h) + 1) + ","
                   + shortestText(std::max(q, 0.0)) + "\n";
        }
        test::writeText(dir_ / "obs.csv", obs);
    }
    [[nodiscard]] std::vector<std::string> args(std::vector<std::string> more) const {
        std::vector<std::string> a{dir_.path().string(), (dir_ / "gauges.csv").string(),
                                   (dir_ / "obs.csv").string(), "--snap-radius", "0"};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }
    [[nodiscard]] fs::path out(const std::string& name) const {
        return dir_.path() / "output" / "calibration" / name;
    }
    [[nodiscard]] const test::TempDir& dir() const { return dir_; }

private:
    test::TempDir dir_;
};

/// The best row of best.csv as column name -> text.
std::map<std::string, std::string> bestRow(const Twin& twin) {
    const std::string text = test::readText(twin.out("best.csv"));
    std::istringstream lines(text);
    std::string header;
    std::string row;
    std::getline(lines, header);
    std::getline(lines, row);
    std::map<std::string, std::string> cells;
    std::istringstream h(header);
    std::istringstream r(row);
    std::string name;
    std::string value;
    while (std::getline(h, name, ',')) {
        std::getline(r, value, ',');
        cells[name] = value;
    }
    return cells;
}

TEST(Calibrate, DdsRecoversTheValuesOfATwinExperiment) {
    const Twin twin;
    const Outcome r = calibrateWith(twin.args({"--vary", "manning-slope=0.05:0.8:log", "--vary",
                                               "rain-factor=0.7:1.3", "--budget", "200"}));
    ASSERT_EQ(r.status, 0) << r.out;
    auto best = bestRow(twin);
    EXPECT_GE(std::stod(best["objective"]), 0.98) << r.out;
    EXPECT_NEAR(std::stod(best["manning-slope"]), 0.3, 0.3 * 0.15) << r.out;
    EXPECT_NEAR(std::stod(best["rain-factor"]), 1.0, 0.05) << r.out;
    EXPECT_EQ(best["no_skill"], "-0.41421356237309515");
    EXPECT_NE(r.out.find("no skill, the mean flow as the simulation: -0.414"), std::string::npos);
    for (const char* file : {"history.csv", "objective.svg", "best_out.svg"}) {
        EXPECT_TRUE(fs::exists(twin.out(file))) << file;
    }
    const std::string history = test::readText(twin.out("history.csv"));
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 201);
}

TEST(Calibrate, TheSameSeedGivesTheSameHistoryAtAnyThreadCountAndAfterAStop) {
    const Twin twin;
    const auto history = [&](std::vector<std::string> more) {
        const Outcome r = calibrateWith(twin.args(std::move(more)));
        EXPECT_EQ(r.status, 0) << r.out;
        return test::readText(twin.out("history.csv"));
    };
    for (const char* algorithm : {"dds", "lhs"}) {
        SCOPED_TRACE(algorithm);
        const std::vector<std::string> base{"--vary",      "manning-slope=0.1:0.9",
                                            "--vary",      "initial-runoff=0:1",
                                            "--vary",      "rain-factor=0.8:1.2",
                                            "--algorithm", algorithm,
                                            "--budget",    "12",
                                            "--seed",      "5",
                                            "--batch",     "3"};
        omp_set_num_threads(1);
        const std::string one = history(base);
        omp_set_num_threads(2);
        std::vector<std::string> sideBySide = base;
        sideBySide.insert(sideBySide.end(), {"--member-threads", "2"});
        EXPECT_EQ(history(sideBySide), one);
        EXPECT_EQ(history(base), one);
        // A stop after four runs, in the middle of the fifth row: the rest is run again.
        const auto rows = one.find('\n', one.find("\n5,") + 1);
        const std::string cut = one.substr(0, one.find("\n5,") + 1) + "5,0.3";
        ASSERT_NE(rows, std::string::npos);
        test::writeText(twin.out("history.csv"), cut);
        std::vector<std::string> resumed = base;
        resumed.push_back("--resume");
        EXPECT_EQ(history(resumed), one);
        // Another seed, objective or width law cannot go on with it.
        for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
                 {"--seed", "6"}, {"--objective", "nse"}, {"--channel-width", "1,0.5"}}) {
            test::writeText(twin.out("history.csv"), cut);
            std::vector<std::string> other = resumed;
            other.insert(other.end(), {option, value});
            const Outcome refused = calibrateWith(twin.args(other));
            EXPECT_EQ(refused.status, 1);
            EXPECT_NE(refused.out.find("history.csv was written with other settings ("
                                       + option.substr(2) + "="),
                      std::string::npos)
                << refused.out;
        }
        // A row the settings do not explain (the file edited by hand) is refused too.
        std::string edited = cut;
        edited.replace(edited.find("\n2,") + 3, 1, "9");
        test::writeText(twin.out("history.csv"), edited);
        const Outcome changed = calibrateWith(twin.args(resumed));
        EXPECT_EQ(changed.status, 1);
        EXPECT_NE(changed.out.find("holds other values than these options give"), std::string::npos)
            << changed.out;
    }
}

TEST(Calibrate, RefusesInOneLineAndWritesNothing) {
    const Twin twin;
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--vary", "manning-slope=0.5:0.5"}, "--vary manning-slope: the minimum must be below"},
        {{"--vary", "roughness=0.1:0.5"}, "--vary: unknown parameter \"roughness\""},
        {{"--vary", "manning-slope=0.1:0.5", "--budget", "0"}, "--budget must be a whole number"},
        {{"--vary", "manning-slope=0:0.5"}, "the minimum must be above 0."},
        {{"--vary", "initial-runoff=0:1:log"}, "the minimum must be above 0."},
        {{"--vary", "manning-slope=0.1:0.5", "--objective", "rmse"}, "--objective must be"},
        {{"--vary", "manning-slope=0.1:0.5", "--warmup-hours", "48"},
         "--warmup-hours must be below the event's 48 hours."},
        {{"--vary", "manning-slope=0.1:0.5", "--weights", "nowhere=1"},
         "--weights names \"nowhere\""},
        {{}, "Name at least one value to vary"},
    };
    for (const auto& [more, expected] : cases) {
        const Outcome r = calibrateWith(twin.args(more));
        EXPECT_EQ(r.status, 1) << expected;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
    }
    // A gauge without observations in the window.
    test::writeText(twin.dir() / "obs.csv", "time,out\n2000-01-01T01:00:00Z,1\n");
    const Outcome r = calibrateWith(twin.args({"--vary", "manning-slope=0.1:0.5"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("obs.csv: gauge out has fewer than 2 observations in hours 1 to 48"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(fs::exists(twin.dir().path() / "output" / "calibration"));
}

TEST(Calibrate, ApplyWritesTheBestValuesAndKeepsTheRestOfTheFile) {
    const Twin twin;
    const std::string before = test::readText(twin.dir() / "param-event.dat");
    const Outcome r = calibrateWith(twin.args({"--vary", "manning-channel=0.01:0.2", "--vary",
                                               "rain-factor=0.9:1.1", "--budget", "6", "--apply"}));
    ASSERT_EQ(r.status, 0) << r.out;
    auto best = bestRow(twin);
    EXPECT_NE(r.out.find("Applied to "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Not applied: rain-factor " + best["rain-factor"]), std::string::npos)
        << r.out;
    const std::string after = test::readText(twin.dir() / "param-event.dat");
    std::string expected = before;
    const std::string old = "\n0.03\n";
    expected.replace(expected.find(old), old.size(), "\n" + best["manning-channel"] + "\n");
    EXPECT_EQ(after, expected);
}

}  // namespace
}  // namespace hydro::calibrate

namespace hydro::members {
namespace {

// A member that keeps only some cells' series routes only the cells upstream of them, and
// those series are the whole basin's to the bit, with either scheme and any values.
TEST(Members, RoutingOnlyTheCellsUpstreamGivesTheWholeBasinsSeries) {
    test::TempDir dir;
    test::confluenceCase().write(dir.path());
    auto data = readCase(dir.path());
    ASSERT_TRUE(data.ok());
    auto rain = readCaseRainfall(dir.path(), data->params);
    ASSERT_TRUE(rain.ok());
    // One branch's cell, the confluence's reach, and a cell on no river.
    const std::vector<CellIndex> watched{data->grid.index(1, 1), data->grid.index(2, 2),
                                         data->grid.index(3, 3), data->grid.index(0, 0)};
    for (const auto scheme : {runoff::Scheme::kLinear, runoff::Scheme::kConservative}) {
        auto part = MemberRunner::create(*data, *rain, scheme, watched);
        auto whole = MemberRunner::create(*data, *rain, scheme, watched, true);
        ASSERT_TRUE(part.ok() && whole.ok());
        EXPECT_LT(part->routedCells(), whole->routedCells());
        MemberValues values = part->caseValues();
        values.manningChannel = 0.07;
        values.rainFactor = 1.3;
        const auto a = part->run({values, nullptr});
        const auto b = whole->run({values, nullptr});
        ASSERT_TRUE(a.ok() && b.ok());
        for (std::size_t g = 0; g < watched.size(); ++g) {
            EXPECT_EQ(std::memcmp(a->series[g].data(), b->series[g].data(),
                                  a->series[g].size() * sizeof(float)),
                      0)
                << g;
        }
    }
}

}  // namespace
}  // namespace hydro::members
