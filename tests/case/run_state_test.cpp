#include "case/run_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "case/state_check.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/runoff_sim/planned_state.h"
#include "tests/support/test_support.h"

namespace hydro {
namespace {

namespace fs = std::filesystem;

class RunStateFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path()
               / ("run_state_test_"
                  + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static RunState sample() {
        RunState s;
        s.origin.columns = 7;
        s.origin.rows = 5;
        s.origin.swLon = 6.25F;
        s.origin.swLat = 50.5F;
        s.origin.digests[2][0] = 0xAB;
        s.origin.scheme = 1;
        s.origin.timeStep = 60;
        s.origin.spaceSteps = 3;
        s.origin.channelArea = 100;
        s.origin.weight = 0.6;
        s.origin.manningSlope = 0.3;
        s.origin.manningChannel = 0.035;
        s.time = 1666069200;  // 2022-10-18T05:00:00Z
        s.positions = {0, 3, 11, 34};
        for (std::size_t i = 0; i < s.positions.size() * s.valuesPerCell(); ++i) {
            s.values.push_back(0.1 * static_cast<double>(i) + 1e-17);
        }
        s.values[1] = -0.0;
        s.run.eventStart = 1666051200;
        s.run.hoursRun = 5;
        s.run.days = 2;
        s.run.stateEvery = 1;
        s.run.nonFiniteCount = 2;
        s.run.firstNonFinitePosition = 11;
        s.run.firstNonFiniteDay = 1;
        s.run.firstNonFiniteHour = 4;
        StateRiver river;
        river.number = 12;
        river.cells = 4;
        river.rain.add(1234.5678);
        river.leaving.add(-1e-9);
        river.inflow.add(1e300);  // not finite as a sum
        s.run.rivers = {river, StateRiver{}};
        return s;
    }

    [[nodiscard]] std::vector<char> bytesOf(const fs::path& p) const {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void put(const fs::path& p, const std::vector<char>& bytes) const {
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
    }

    fs::path dir_;
};

TEST_F(RunStateFile, KeepsEveryValueBitForBitAndSaysWhenItIs) {
    const RunState s = sample();
    const fs::path path = dir_ / "state.bin";
    ASSERT_TRUE(writeState(path, s));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 1)
        << "no temporary is left";
    // The size stays within the node states, the lateral inflow and a position per cell.
    const std::size_t perCell = (static_cast<std::size_t>(s.origin.spaceSteps) + 3) * 8;
    EXPECT_LE(fs::file_size(path), 376 + 2 * 136 + 4 + s.positions.size() * perCell);
    const std::vector<char> bytes = bytesOf(path);
    EXPECT_EQ(std::string(bytes.data(), 8), "HYDSTATE");
    EXPECT_EQ(std::string(bytes.data() + 240), "2022-10-18T05:00:00Z");

    const auto back = readState(path);
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(back->positions, s.positions);
    ASSERT_EQ(back->values.size(), s.values.size());
    EXPECT_EQ(std::memcmp(back->values.data(), s.values.data(), s.values.size() * 8), 0);
    EXPECT_EQ(back->time, s.time);
    EXPECT_EQ(back->run.hoursRun, 5);
    EXPECT_EQ(back->run.firstNonFinitePosition, 11);
    ASSERT_EQ(back->run.rivers.size(), 2U);
    EXPECT_EQ(back->run.rivers[0].rain.m3(), s.run.rivers[0].rain.m3());
    EXPECT_EQ(back->run.rivers[0].leaving.m3(), s.run.rivers[0].leaving.m3());
    EXPECT_FALSE(back->run.rivers[0].inflow.finite());
    EXPECT_TRUE(checkStateOrigin("state.bin", back->origin, s.origin));
}

TEST_F(RunStateFile, RefusesDamagedFilesWithOneLine) {
    const fs::path path = dir_ / "state.bin";
    ASSERT_TRUE(writeState(path, sample()));
    const std::vector<char> good = bytesOf(path);
    const fs::path bad = dir_ / "bad.bin";
    const std::string corrupted = "bad.bin is truncated or corrupted.";
    // Cut anywhere, or one bit flipped anywhere after the version.
    for (std::size_t cut = 16; cut < good.size(); cut += 7) {
        put(bad, std::vector<char>(good.begin(), good.begin() + static_cast<long>(cut)));
        const auto r = readState(bad);
        ASSERT_FALSE(r) << cut;
        EXPECT_EQ(r.error().message, corrupted) << cut;
    }
    for (std::size_t at = 12; at < good.size(); at += 5) {
        std::vector<char> flipped = good;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
        put(bad, flipped);
        const auto r = readState(bad);
        ASSERT_FALSE(r) << at;
        EXPECT_EQ(r.error().message, corrupted) << at;
    }
    std::vector<char> version = good;
    version[8] = 3;
    put(bad, version);
    EXPECT_EQ(readState(bad).error().message,
              "bad.bin is a state of format version 3; this program reads versions 1 and 2.");
    // A scheme beyond the two, with a checksum that fits it.
    RunState unknown = sample();
    unknown.origin.scheme = 2;
    ASSERT_TRUE(writeState(bad, unknown));
    EXPECT_EQ(readState(bad).error().message, corrupted);
    put(bad, std::vector<char>(good.begin() + 1, good.end()));
    EXPECT_EQ(readState(bad).error().message, "bad.bin is not a state file.");
    EXPECT_EQ(readState(dir_ / "none.bin").error().message, "none.bin cannot be read.");
    EXPECT_EQ(readState(dir_).error().message, dir_.filename().string() + " cannot be read.");
}

TEST_F(RunStateFile, NamesTheFirstSettingThatDiffers) {
    const StateOrigin o = sample().origin;
    auto line = [&](auto change) {
        StateOrigin run = o;
        change(run);
        const Status s = checkStateOrigin("s.bin", o, run);
        return s ? std::string("fits") : s.error().message;
    };
    EXPECT_EQ(line([](StateOrigin& r) { r.rows = 6; }),
              "s.bin is of another grid (7 x 5 cells from 6.25, 50.5; this case has 7 x 6 from "
              "6.25, 50.5).");
    EXPECT_EQ(line([](StateOrigin& r) { r.digests[0][5] = 1; }),
              "s.bin was written for another riverNumList.dat (its SHA-256 differs).");
    EXPECT_EQ(line([](StateOrigin& r) { r.digests[2][0] = 0; }),
              "s.bin was written for another flowDir.bin (its SHA-256 differs).");
    EXPECT_EQ(line([](StateOrigin& r) { r.scheme = 0; }),
              "s.bin was written with the conservative scheme; this run uses the linear "
              "scheme.");
    EXPECT_EQ(line([](StateOrigin& r) { r.timeStep = 120; }),
              "s.bin was written with a time step of 60 s; this run has 120 s.");
    EXPECT_EQ(line([](StateOrigin& r) { r.spaceSteps = 4; }),
              "s.bin was written with space steps 3; this run has 4.");
    EXPECT_EQ(line([](StateOrigin& r) { r.manningChannel = 0.04; }),
              "s.bin was written with a channel Manning value of 0.035; this run has 0.04.");
    EXPECT_EQ(line([](StateOrigin& r) {
                  r.channelWidth = {1.0, 0.5};
              }),
              "s.bin was written with the channel width B = 1.061722301 * A^0.685081138 m (A in "
              "km2); this run has B = 1 * A^0.5 m (A in km2) (--channel-width 1,0.5).");
    EXPECT_EQ(line([](StateOrigin&) {}), "fits");
}

// The model's law keeps the first format byte for byte; another law takes version 2, which adds
// the law to the header and reads back whole; a version-2 header with a law no run can have is
// damaged.
TEST_F(RunStateFile, AnotherChannelWidthLawTakesTheSecondFormat) {
    const fs::path model = dir_ / "model.bin";
    const fs::path wide = dir_ / "wide.bin";
    RunState s = sample();
    ASSERT_TRUE(writeState(model, s));
    s.origin.channelWidth = {2.5, 0.75};
    ASSERT_TRUE(writeState(wide, s));
    const std::vector<char> first = bytesOf(model);
    const std::vector<char> second = bytesOf(wide);
    ASSERT_EQ(second.size(), first.size() + 16);
    EXPECT_EQ(first[8], 1);
    EXPECT_EQ(second[8], 2);
    std::uint32_t header = 0;
    std::memcpy(&header, second.data() + 12, 4);
    EXPECT_EQ(header, 392U);
    double coefficient = 0.0;
    std::memcpy(&coefficient, second.data() + 376, 8);
    EXPECT_EQ(coefficient, 2.5);
    // Apart from the version, the header length and the law, the same bytes.
    EXPECT_TRUE(std::equal(first.begin() + 16, first.begin() + 376, second.begin() + 16));
    EXPECT_TRUE(std::equal(first.begin() + 376, first.end() - 4, second.begin() + 392));

    const auto readModel = readState(model);
    ASSERT_TRUE(readModel);
    EXPECT_TRUE(readModel->origin.channelWidth.isModel());
    const auto readWide = readState(wide);
    ASSERT_TRUE(readWide);
    EXPECT_EQ(readWide->origin.channelWidth, (ChannelWidthLaw{2.5, 0.75}));
    EXPECT_EQ(readWide->values, s.values);
    EXPECT_EQ(readWide->run.rivers.size(), 2U);

    for (const ChannelWidthLaw bad : {ChannelWidthLaw{0.0, 0.5}, ChannelWidthLaw{1.0, 1.5},
                                      ChannelWidthLaw{std::nan(""), 0.5}}) {
        s.origin.channelWidth = bad;
        ASSERT_TRUE(writeState(wide, s));
        const auto r = readState(wide);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message, "wide.bin is truncated or corrupted.");
    }
}

TEST(ChannelWidthOption, TakesTwoNumbersInRangeAndRefusesAnythingElseWithOneLine) {
    const auto law = parseChannelWidth("--channel-width", "1,0.5");
    ASSERT_TRUE(law);
    EXPECT_EQ(*law, (ChannelWidthLaw{1.0, 0.5}));
    EXPECT_FALSE(law->isModel());
    EXPECT_TRUE(parseChannelWidth("--channel-width", "1.061722301,0.685081138")->isModel());
    EXPECT_TRUE(ChannelWidthLaw{}.isModel());
    EXPECT_EQ(channelWidthValue(ChannelWidthLaw{}), "1.061722301,0.685081138");
    EXPECT_TRUE(parseChannelWidth("--channel-width", "10000,0"));
    EXPECT_TRUE(parseChannelWidth("--channel-width", "3e-2,1"));
    for (const char* bad : {"", "1", "1,", ",0.5", "0,0.5", "-1,0.5", "10001,0.5", "1,-0.1",
                            "1,1.01", "1,0.5,2", "nan,0.5", "1,inf", "1;0.5", "a,b"}) {
        const auto r = parseChannelWidth("--channel-width", bad);
        ASSERT_FALSE(r) << bad;
        EXPECT_EQ(r.error().message, std::string("--channel-width must be ") + kChannelWidthForm
                                         + ", not \"" + bad + "\".")
            << bad;
    }
}

// The state a run of the confluence case starts from, held against that case. Its north-west
// interior cell is on the listed river but has no flow accumulation: the simulator does not
// route it, so a state holds no value for it.
TEST(StateAgainstCase, APlannedStateFitsAndEveryMisfitHasItsOwnLine) {
    test::TempDir dir;
    test::SimCase c = test::confluenceCase();
    c.flowAcc[6] = 0;
    c.write(dir.path());
    const auto data = readCase(dir.path());
    ASSERT_TRUE(data) << data.error().message;
    const std::vector<std::int32_t> routed = routedPositions(data->grid, data->rivers);
    EXPECT_EQ(routed, (std::vector<std::int32_t>{6, 7, 8, 11, 12, 13, 17, 18}));
    for (const auto scheme : {runoff::Scheme::kLinear, runoff::Scheme::kConservative}) {
        const auto planned = test::plannedState(dir.path(), scheme);
        ASSERT_TRUE(planned);
        EXPECT_EQ(planned->state.positions, routed);
        const auto fits = stateMisfitsInCase(dir.path(), *data, "s.bin", planned->state,
                                             planned->state.origin.scheme);
        ASSERT_TRUE(fits) << fits.error().message;
        EXPECT_TRUE(fits->empty()) << fits->front();
    }
    const auto planned = test::plannedState(dir.path(), runoff::Scheme::kLinear);
    ASSERT_TRUE(planned);
    const RunState good = planned->state;
    const std::size_t per = good.valuesPerCell();
    const auto lines = [&](const RunState& s, std::uint32_t scheme = 0) {
        const auto found = stateMisfitsInCase(dir.path(), *data, "s.bin", s, scheme);
        return found ? *found : std::vector<std::string>{found.error().message};
    };
    using Lines = std::vector<std::string>;

    // The third cell (position 8: column 4, row 2) left out, a border cell added.
    RunState cells = good;
    cells.positions.erase(cells.positions.begin() + 2);
    cells.values.erase(cells.values.begin() + static_cast<long>(2 * per),
                       cells.values.begin() + static_cast<long>(3 * per));
    cells.positions.insert(cells.positions.begin(), 1);
    cells.values.insert(cells.values.begin(), per, 0.5);
    EXPECT_EQ(lines(cells), (Lines{"s.bin lacks one cell the case routes, at column 4, row 2.",
                                   "s.bin holds one cell the case does not route, at column 2, "
                                   "row 1."}));
    cells.positions.erase(cells.positions.begin() + 1, cells.positions.begin() + 3);
    cells.values.resize(cells.positions.size() * per);
    EXPECT_EQ(lines(cells)[0],
              "s.bin lacks 3 cells the case routes, the first at column 2, row 2.");

    // Values: a NaN lateral inflow and an infinite node, two discharges below zero; a lateral
    // inflow below zero is no discharge. The conservative scheme's states are no discharges.
    RunState values = good;
    values.values[per - 1] = std::numeric_limits<double>::quiet_NaN();
    values.values[3 * per + 1] = std::numeric_limits<double>::infinity();
    values.values[4 * per + 2] = -0.25;
    values.values[5 * per] = -1.0;
    values.values[6 * per - 1] = -1.0;
    EXPECT_EQ(lines(values),
              (Lines{"s.bin holds 2 values that are not finite, the first at column 2, row 2 "
                     "(lateral inflow).",
                     "s.bin holds 2 discharges below zero, the first at column 3, row 3 (node 2) "
                     "(-0.25)."}));
    values.origin.scheme = 1;
    values.values[per - 1] = 0.0;
    values.values[3 * per + 1] = 0.0;
    values.values[4 * per + 2] = 0.0;
    EXPECT_EQ(lines(values, 1),
              (Lines{"s.bin holds one node state below zero, at column 4, row 3 (node 0) (-1)."}));

    // The origin's line comes first; cells are compared only on the same grid.
    RunState other = good;
    other.origin.manningChannel = 0.05;
    other.values[0] = -2.0;
    EXPECT_EQ(lines(other),
              (Lines{"s.bin was written with a channel Manning value of 0.05; this run has 0.03.",
                     "s.bin holds one discharge below zero, at column 2, row 2 (node 0) (-2)."}));
    other = good;
    other.origin.rows = 6;
    other.positions.push_back(27);
    other.values.resize(other.positions.size() * per, 0.0);
    EXPECT_EQ(lines(other).size(), 1U);
    EXPECT_EQ(lines(good, 1),
              (Lines{"s.bin was written with the linear scheme; this run uses the conservative "
                     "scheme."}));
}

}  // namespace
}  // namespace hydro
