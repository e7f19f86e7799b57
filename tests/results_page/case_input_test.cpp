// Reading a case: the event's start falls back to the year 2000 when the rain file's first block
// header is no date, and the optional gauge tables.

#include "results_page/case_input.h"

#include <gtest/gtest.h>

#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::results_page {
namespace {

TEST(CaseInput, FallsBackToTheYear2000WhenTheHeaderIsNoDate) {
    test::TempDir dir;
    test::SimCase c = test::confluenceCase();
    c.write(dir.path());
    auto read = readCaseInput(dir.path());
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_FALSE(read->start.fallback);
    EXPECT_EQ(read->grid.cols, 5);

    std::string rain = test::readText(dir / "input/rain.dat");
    rain.replace(0, rain.find('\n'), "0 0 0 0 0 0");
    test::writeText(dir / "input/rain.dat", rain);
    read = readCaseInput(dir.path());
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_TRUE(read->start.fallback);
    EXPECT_EQ(read->start.year, 2000);
    EXPECT_EQ(read->start.month, 1);

    std::filesystem::remove(dir / "topoData/flowAcc.bin");
    read = readCaseInput(dir.path());
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().message, "flowAcc.bin cannot open.");
}

TEST(CaseInput, GaugeTablesAreOptional) {
    test::TempDir dir;
    auto text = readOptionalOutputText(dir.path(), "gauge_cells.csv");
    ASSERT_TRUE(text.ok());
    EXPECT_FALSE(*text);
    test::writeText(dir / "output/gauge_cells.csv", "id\n");
    text = readOptionalOutputText(dir.path(), "gauge_cells.csv");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(**text, "id\n");
    std::filesystem::create_directories(dir / "output/gauge_observed.csv");
    text = readOptionalOutputText(dir.path(), "gauge_observed.csv");
    ASSERT_FALSE(text.ok());
    EXPECT_EQ(text.error().message, "gauge_observed.csv is not a readable file.");
}

}  // namespace
}  // namespace hydro::results_page
