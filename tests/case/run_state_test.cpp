#include "case/run_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
    version[8] = 2;
    put(bad, version);
    EXPECT_EQ(readState(bad).error().message,
              "bad.bin is a state of format version 2; this program reads version 1.");
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
    EXPECT_EQ(line([](StateOrigin&) {}), "fits");
}

}  // namespace
}  // namespace hydro
