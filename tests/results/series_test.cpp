// The discharge series as the extractor writes it, the ways a file can fail to be one, and
// the day and hour of its peak.

#include "results/series.h"

#include <gtest/gtest.h>

#include <string>

namespace hydro::results {

namespace {

/// Lines "h value" for hours 1..values.size().
std::string seriesText(const std::vector<std::string>& values) {
    std::string s;
    for (std::size_t i = 0; i < values.size(); ++i) {
        s += std::to_string(i + 1) + " " + values[i] + "\n";
    }
    return s;
}

std::vector<std::string> repeated(const std::string& v, std::size_t n) {
    return std::vector<std::string>(n, v);
}

TEST(ParseSeries, KeepsEveryValueAndItsSpelling) {
    std::vector<std::string> v = repeated("0", 24);
    v[3] = "6472.15";
    v[4] = "1e+06";
    v[5] = "0.000123457";
    const Result<DischargeSeries> p = parseSeries(seriesText(v), 24);
    ASSERT_TRUE(p) << p.error().message;
    EXPECT_EQ(p->values.size(), 24U);
    EXPECT_EQ(p->tokens[3], "6472.15");
    EXPECT_EQ(p->tokens[4], "1e+06");
    EXPECT_EQ(p->values[4], 1e6);
    EXPECT_EQ(p->tokens[5], "0.000123457");
}

TEST(ParseSeries, LineEndsThatStillMakeTheSameSeries) {
    const std::string lf = seriesText(repeated("2.5", 24));
    std::string crlf;
    for (const char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    for (const std::string& text : {lf, lf.substr(0, lf.size() - 1), crlf}) {
        const Result<DischargeSeries> p = parseSeries(text, 24);
        ASSERT_TRUE(p) << p.error().message;
        EXPECT_EQ(p->values, std::vector<double>(24, 2.5));
        EXPECT_EQ(p->tokens.back(), "2.5");
    }
}

TEST(ParseSeries, RefusedWithTheLineThatIsWrong) {
    const std::string good = seriesText(repeated("1.5", 24));
    const auto withLine = [&](int line, const std::string& content) {
        std::string s;
        for (int h = 1; h <= 24; ++h) {
            s += (h == line ? content : std::to_string(h) + " 1.5") + "\n";
        }
        return s;
    };
    const struct {
        const char* what;
        std::string text;
        std::int64_t hours;
        std::string error;
    } cases[] = {
        {"empty file", "", 24, "holds 0 lines, but the event has 24 hours."},
        {"short file", seriesText(repeated("1.5", 23)), 24,
         "holds 23 lines, but the event has 24 hours."},
        {"one day short of two", good, 48, "holds 24 lines, but the event has 48 hours."},
        {"long file", seriesText(repeated("1.5", 25)), 24,
         "holds more than the 24 lines of the event's hours."},
        {"blank line at the end", good + "\n", 24,
         "holds more than the 24 lines of the event's hours."},
        {"hour out of step", withLine(7, "8 1.5"), 24,
         "line 7 is for hour 8, but hour 7 belongs there."},
        {"hours counted from 0", withLine(1, "0 1.5"), 24,
         "line 1 is for hour 0, but hour 1 belongs there."},
        {"hour not a whole number", withLine(3, "3.0 1.5"), 24,
         "line 3 holds \"3.0\" where the hour belongs."},
        {"value not a number", withLine(5, "5 abc"), 24,
         "line 5 holds \"abc\" where a discharge belongs."},
        {"value partly a number", withLine(5, "5 1.5x"), 24,
         "line 5 holds \"1.5x\" where a discharge belongs."},
        {"value not finite", withLine(5, "5 nan"), 24,
         "line 5 holds \"nan\" where a discharge belongs."},
        {"missing value", withLine(9, "9"), 24,
         "line 9 should hold an hour and a discharge, but holds 1 values."},
        {"blank line inside", withLine(9, ""), 24,
         "line 9 should hold an hour and a discharge, but holds 0 values."},
        {"extra value", withLine(2, "2 1.5 7"), 24,
         "line 2 should hold an hour and a discharge, but holds 3 or more values."},
        {"negative discharge", withLine(4, "4 -2"), 24, "line 4 holds the negative discharge -2."},
        {"no discharge in one hour only", withLine(4, "4 -9999"), 24,
         "line 4 mixes -9999 (no discharge) with discharges of other hours."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result<DischargeSeries> p = parseSeries(c.text, c.hours);
        ASSERT_FALSE(p);
        EXPECT_EQ(p.error().message, c.error);
    }
}

TEST(ParseSeries, ErrorLinesStayShortAndPrintable) {
    // Found by fuzzing: a file's raw bytes, and a negative discharge of any length, were
    // copied into the error line whole.
    const struct {
        const char* what;
        std::string text;
        std::string error;
    } cases[] = {
        {"binary hour", std::string("\xDA\t\x0E\n", 4),
         "line 1 holds \"\\xDA\" where the hour belongs."},
        {"control byte in the value", std::string("1 2\x01\n"),
         "line 1 holds \"2\\x01\" where a discharge belongs."},
        {"long negative discharge", "1 -" + std::string(100, '7') + "\n",
         "line 1 holds the negative discharge -" + std::string(39, '7') + "..." + "."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result<DischargeSeries> p = parseSeries(c.text, 1);
        ASSERT_FALSE(p);
        EXPECT_EQ(p.error().message, c.error);
    }
}

TEST(ParseSeries, CellWithoutDischargeParsesAndHasNoPeak) {
    const Result<DischargeSeries> p = parseSeries(seriesText(repeated("-9999", 48)), 48);
    ASSERT_TRUE(p) << p.error().message;
    EXPECT_FALSE(findPeak(p->values));
    EXPECT_FALSE(findPeak({}));
}

TEST(Peak, FirstLargestValueWithItsDayAndHour) {
    const auto peakOf = [](std::size_t at, std::size_t size) {
        std::vector<double> v(size, 1.0);
        v[at] = 5.0;
        return *findPeak(v);
    };
    const struct {
        std::size_t at;
        std::int64_t day;
        std::int64_t hour;
    } cases[] = {{0, 1, 1}, {22, 1, 23}, {23, 1, 24}, {24, 2, 1}, {26, 2, 3}, {47, 2, 24}};
    for (const auto& c : cases) {
        const Peak p = peakOf(c.at, 48);
        EXPECT_EQ(p.index, c.at);
        EXPECT_EQ(p.day, c.day) << "index " << c.at;
        EXPECT_EQ(p.hour, c.hour) << "index " << c.at;
    }
    // A plateau: the first hour of it.
    EXPECT_EQ(findPeak({1.0, 3.0, 3.0, 2.0, 3.0})->index, 1U);
    // Zero discharge throughout is a series, with its peak in the first hour.
    EXPECT_EQ(findPeak(std::vector<double>(24, 0.0))->index, 0U);
}

}  // namespace
}  // namespace hydro::results
