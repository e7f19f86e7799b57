#include "runoff_sim/river_list.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace hydro::runoff {
namespace {

TEST(RiverList, CountsLinesAsWholeLineReadsDo) {
    struct Case {
        const char* text;
        std::int64_t lines;
    };
    const Case cases[] = {
        {"", 0},
        {"1 0 0 0 0 0 0 0\n", 1},
        {"1 0 0 0 0 0 0 0", 1},
        {"1 0 0 0 0 0 0 0\n2 0 0 0 0 0 0 0\n", 2},
        {"1 0 0 0 0 0 0 0\n2 0 0 0 0 0 0 0\n\n", 3},
        {"\n", 1},
        {"\n\n", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        test::TempDir dir;
        test::writeText(dir / "r.dat", c.text);
        EXPECT_EQ(countRiverLines(dir / "r.dat"), c.lines);
    }
    test::TempDir dir;
    EXPECT_FALSE(countRiverLines(dir / "missing.dat").has_value());
}

TEST(RiverList, OnlyCompleteRecordsListARiver) {
    test::TempDir dir;
    // Records may spread over lines; the count of lines bounds how many are read.
    test::writeText(dir / "r.dat",
                    "1 84 0 9925 773 0 -118.33883 34.41890\n"
                    "2 101 198\n2786 207 0 -116.68883 34.27723\n"
                    "-4 0 0 0 0 0 0 0\n"
                    "7 1 2\n");
    const auto list = readRiverList(dir / "r.dat", 5);
    ASSERT_TRUE(list.has_value());
    EXPECT_TRUE(list->isListedRiver(1));
    EXPECT_TRUE(list->isListedRiver(2));
    EXPECT_FALSE(list->isListedRiver(-4));  // negative numbers never list a cell
    EXPECT_FALSE(list->isListedRiver(-1));
    EXPECT_FALSE(list->isListedRiver(7));  // its record is incomplete
    EXPECT_FALSE(list->isListedRiver(0));  // entries past the last record get no value

    // Only as many records as lines are read.
    const auto one = readRiverList(dir / "r.dat", 1);
    ASSERT_TRUE(one.has_value());
    EXPECT_FALSE(one->isListedRiver(2));

    // A token that is not a number of its kind ends the reading.
    test::writeText(dir / "bad.dat", "3 0 0 0 0 0 0 0\n4 0 x 0 0 0 0 0\n5 0 0 0 0 0 0 0\n");
    const auto bad = readRiverList(dir / "bad.dat", 3);
    ASSERT_TRUE(bad.has_value());
    EXPECT_TRUE(bad->isListedRiver(3));
    EXPECT_FALSE(bad->isListedRiver(4));
    EXPECT_FALSE(bad->isListedRiver(5));
}

}  // namespace
}  // namespace hydro::runoff
