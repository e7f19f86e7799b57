#include "common/number_stream.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "tests/support/test_support.h"

namespace hydro {
namespace {

TEST(NumberStream, IntegersMustBeWholeTokens) {
    EXPECT_EQ(parseInt32("12"), 12);
    EXPECT_EQ(parseInt32("+7"), 7);
    EXPECT_EQ(parseInt32("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(parseInt32("2147483647"), std::numeric_limits<std::int32_t>::max());
    for (const char* bad : {"12.0", "4.", "2147483648", "-2147483649", "", "+", "-", "1e3", "0x10",
                            "12a", " 1", "99999999999999999999"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseInt32(bad).has_value());
    }
}

TEST(NumberStream, RealsFollowTheDecimalGrammar) {
    EXPECT_EQ(parseDouble("0.1"), 0.1);
    EXPECT_EQ(parseDouble("-118.3430"), -118.3430);
    EXPECT_EQ(parseDouble("1."), 1.0);
    EXPECT_EQ(parseDouble(".5"), 0.5);
    EXPECT_EQ(parseDouble("+2e-3"), 2e-3);
    EXPECT_EQ(parseDouble("1E+02"), 100.0);
    EXPECT_EQ(parseDouble("12"), 12.0);
    for (const char* bad :
         {".", "1e", "e5", "1e+", "inf", "nan", "0x1p3", "1.2.3", "--1", "1,5", "", "1e400"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseDouble(bad).has_value());
    }
    // Gradual underflow is accepted, as a formatted stream accepts it.
    EXPECT_EQ(parseDouble("1e-400"), 0.0);
}

TEST(NumberStream, FloatsRoundOnceFromTheText) {
    // 0.1 rounded straight to single precision, not through double.
    EXPECT_EQ(parseFloat("0.1"), 0.1F);
    EXPECT_EQ(parseFloat("-118.3430"), -118.3430F);
    // A value that needs double rounding care: the nearest float to the decimal text.
    EXPECT_EQ(parseFloat("1.00000005960464477539062500000001"), 1.00000011920928955078125F);
    EXPECT_FALSE(parseFloat("1e39").has_value());
    EXPECT_FALSE(parseFloat("-3.5e38").has_value());
    EXPECT_EQ(parseFloat("3.4e38"), 3.4e38F);
}

TEST(NumberStream, TokensSpanLinesAndBlocks) {
    test::TempDir dir;
    // A token crossing the 1 MiB read block must come out whole.
    std::string text(std::size_t{1} << 20U, ' ');
    text.replace(text.size() - 3, 3, "123");
    text += "456\t\r\n 7\n";
    test::writeText(dir / "t.dat", text);
    TokenReader reader;
    ASSERT_TRUE(reader.open(dir / "t.dat"));
    auto a = reader.next();
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(*a, "123456");
    auto b = reader.next();
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(*b, "7");
    EXPECT_FALSE(reader.next().has_value());
    EXPECT_FALSE(reader.next().has_value());

    TokenReader missing;
    EXPECT_FALSE(missing.open(dir / "missing.dat"));
    EXPECT_FALSE(missing.next().has_value());
}

TEST(NumberStream, EndlessTokensStopTheReading) {
    test::TempDir dir;
    // A binary file or /dev/zero is one endless token: it is cut at kMaxTokenLength and
    // nothing more is read, instead of filling memory until the allocation fails.
    std::string text = "12 ";
    text += std::string(3 * kMaxTokenLength, '\0');
    text += " 34";
    test::writeText(dir / "t.dat", text);
    TokenReader reader;
    ASSERT_TRUE(reader.open(dir / "t.dat"));
    EXPECT_EQ(reader.next(), "12");
    const auto endless = reader.next();
    ASSERT_TRUE(endless.has_value());
    EXPECT_EQ(endless->size(), kMaxTokenLength);
    EXPECT_FALSE(reader.next().has_value());
    // Folders are files that cannot be opened.
    EXPECT_FALSE(reader.open(dir.path()));
}

TEST(NumberStream, TokensInMessagesAreShortAndPrintable) {
    EXPECT_EQ(quoteToken("12.0"), "12.0");
    EXPECT_EQ(quoteToken(std::string("a\0b\x1b\\\xff", 6)), "a\\x00b\\x1B\\x5C\\xFF");
    EXPECT_EQ(quoteToken(std::string(2000000, 'x')), std::string(40, 'x') + "...");
}

TEST(NumberStream, LinesOfTokens) {
    TokenReader reader;
    reader.openText("1 2\n\n3\r\n  4");
    std::vector<std::int64_t> lines;
    while (reader.next()) {
        lines.push_back(reader.line());
    }
    EXPECT_EQ(lines, (std::vector<std::int64_t>{1, 1, 3, 4}));
}

TEST(NumberStream, InMemoryText) {
    TokenReader reader;
    reader.openText("  1\v2\f3");
    std::string all;
    while (auto t = reader.next()) {
        all += std::string(*t) + ",";
    }
    EXPECT_EQ(all, "1,2,3,");
}

}  // namespace
}  // namespace hydro
