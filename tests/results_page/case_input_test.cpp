// Reading a case: the event's start from the rain file's first block header and the checks on
// the hourly discharge grid.

#include "results_page/case_input.h"

#include <gtest/gtest.h>

#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::results_page {
namespace {

TEST(EventStart, TakesAValidDateOfTheFirstRainHeader) {
    const auto start = eventStartFromHeader({2024, 2, 29, 23, 59, 58});
    ASSERT_TRUE(start);
    EXPECT_EQ(start->year, 2024);
    EXPECT_EQ(start->day, 29);
    EXPECT_EQ(start->second, 58);
    EXPECT_FALSE(start->fallback);
    for (const std::vector<std::int64_t>& bad : std::vector<std::vector<std::int64_t>>{
             {2023, 2, 29, 0, 0, 0},
             {1900, 2, 29, 0, 0, 0},
             {2000, 4, 31, 0, 0, 0},
             {2000, 0, 1, 0, 0, 0},
             {2000, 1, 1, 24, 0, 0},
             {2000, 1, 1, 0, 60, 0},
             {0, 1, 1, 0, 0, 0},
             {1, 1, 1, 0, 0},
         }) {
        SCOPED_TRACE(bad.size() > 1 ? bad[1] : 0);
        EXPECT_FALSE(eventStartFromHeader(bad));
    }
    EXPECT_TRUE(eventStartFromHeader({2000, 2, 29, 0, 0, 0}));
}

TEST(CaseInput, FallsBackToTheYear2000WhenTheHeaderIsNoDate) {
    test::TempDir dir;
    test::SimCase c = test::confluenceCase();
    c.write(dir.path());
    auto read = readCaseInput(dir.path());
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_FALSE(read.value().start.fallback);
    EXPECT_EQ(read.value().grid.cols, 5);

    std::string rain = test::readText(dir / "input/rain.dat");
    rain.replace(0, rain.find('\n'), "0 0 0 0 0 0");
    test::writeText(dir / "input/rain.dat", rain);
    read = readCaseInput(dir.path());
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_TRUE(read.value().start.fallback);
    EXPECT_EQ(read.value().start.year, 2000);
    EXPECT_EQ(read.value().start.month, 1);

    std::filesystem::remove(dir / "topoData/flowAcc.bin");
    read = readCaseInput(dir.path());
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error(), "flowAcc.bin cannot open.");
}

TEST(DischargeFrames, NeedWholeFramesEnoughForTheEvent) {
    test::TempDir dir;
    const auto bin = dir / "output/dischargeHourly.bin";
    EXPECT_EQ(DischargeFrames::open(dir.path(), 2, 3, 2).error(),
              "dischargeHourly.bin cannot open.");
    test::writeFloats(bin, std::vector<float>(13, 1.0F));
    EXPECT_EQ(DischargeFrames::open(dir.path(), 2, 3, 2).error(),
              "dischargeHourly.bin holds 13 values, which are not whole frames of 3 x 2 cells.");
    test::writeFloats(bin, std::vector<float>(6, 1.0F));
    EXPECT_EQ(DischargeFrames::open(dir.path(), 2, 3, 2).error(),
              "dischargeHourly.bin holds 1 hourly frames of 3 x 2 cells, but 2 are needed.");

    std::vector<float> values(18);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<float>(i);
    }
    test::writeFloats(bin, values);
    auto frames = DischargeFrames::open(dir.path(), 2, 3, 2);
    ASSERT_TRUE(frames.ok());
    std::vector<float> frame;
    ASSERT_TRUE(frames.value().read(1, frame));
    EXPECT_EQ(frame, (std::vector<float>{6, 7, 8, 9, 10, 11}));
}

}  // namespace
}  // namespace hydro::results_page
