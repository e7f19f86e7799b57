#include "case/river_list.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace hydro {
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
        {"1 0 0 0 0 0 0 0\r\n\r\n2 0 0 0 0 0 0 0\r\n", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        test::TempDir dir;
        test::writeText(dir / "r.dat", c.text);
        const auto count = countRiverLines(dir / "r.dat");
        ASSERT_TRUE(count.ok());
        EXPECT_EQ(*count, c.lines);
    }
}

TEST(RiverList, WhatCannotBeARiverListIsRefused) {
    test::TempDir dir;
    // Missing, or a folder in its place: cannot open.
    EXPECT_EQ(countRiverLines(dir / "missing.dat").error().message,
              "riverNumList.dat cannot open.");
    std::filesystem::create_directory(dir / "folder.dat");
    EXPECT_EQ(countRiverLines(dir / "folder.dat").error().kind, ErrorKind::kCannotOpen);
    EXPECT_EQ(readRiverList(dir / "folder.dat", 1).error().kind, ErrorKind::kCannotOpen);
    // An endless line (a binary file, /dev/zero) is cut short instead of read to its end.
    test::writeText(dir / "long.dat", "1 0 0 0 0 0 0 0\n" + std::string(5000, '\0'));
    EXPECT_EQ(countRiverLines(dir / "long.dat").error().message,
              "riverNumList.dat line 2 is longer than 4096 characters: this is not a river "
              "list.");
}

TEST(RiverList, CompleteRecordsListTheirRivers) {
    test::TempDir dir;
    // Records may spread over lines; the count of lines bounds how many are read. Empty lines
    // (CRLF included) count as rivers that list nothing.
    test::writeText(dir / "r.dat",
                    "1 84 0 9925 773 0 -118.33883 34.41890\r\n"
                    "\r\n"
                    "2 101 198\n2786 207 0 -116.68883 34.27723\n"
                    "-4 0 0 0 0 0 0 0\n"
                    "\n");
    const auto list = readRiverList(dir / "r.dat", 6);
    ASSERT_TRUE(list.ok()) << list.error().message;
    EXPECT_TRUE(list->isListedRiver(1));
    EXPECT_TRUE(list->isListedRiver(2));
    EXPECT_FALSE(list->isListedRiver(-4));  // negative numbers never list a cell
    EXPECT_FALSE(list->isListedRiver(-1));
    EXPECT_FALSE(list->isListedRiver(0));  // entries past the last record get no value

    // Only as many records as lines are read.
    const auto one = readRiverList(dir / "r.dat", 1);
    ASSERT_TRUE(one.ok());
    EXPECT_FALSE(one->isListedRiver(2));
}

TEST(RiverList, AValueThatIsNotPartOfARecordNamesItsLine) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        // A comment line used to make the list silently empty.
        {"# river list\n1 0 0 0 0 0 0 0\n",
         "riverNumList.dat line 1 holds \"#\" where an integer belongs (value 1 of a record of "
         "six integers and two reals)."},
        {"3 0 0 0 0 0 0 0\n4 0 x 0 0 0 0 0\n5 0 0 0 0 0 0 0\n",
         "riverNumList.dat line 2 holds \"x\" where an integer belongs (value 3 of a record of "
         "six integers and two reals)."},
        {"3 0 0 0 0 0 0 zero\n",
         "riverNumList.dat line 1 holds \"zero\" where a real number belongs (value 8 of a "
         "record of six integers and two reals)."},
        {"3 0 0 0 0 0 0 0\n\n7 1 2\n",
         "riverNumList.dat ends inside the record that starts on line 3 (a record is six "
         "integers, then two reals)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        test::TempDir dir;
        test::writeText(dir / "r.dat", c.text);
        const auto list = readRiverList(dir / "r.dat");
        ASSERT_FALSE(list.ok());
        EXPECT_EQ(list.error().message, c.message);
    }
}

}  // namespace
}  // namespace hydro
