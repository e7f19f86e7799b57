#include "discharge_series/extractor.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace hydro {
namespace {

namespace fs = std::filesystem;

/// The eleven values the extractor reads, for a study grid of `cols` x `rows` and `days` days.
std::string params(int cols, int rows, int days) {
    return std::to_string(cols) + " " + std::to_string(rows)
           + "\n-118.343 34.2314\n17 9\n0.1 0.1\n-118.293 34.2814\n" + std::to_string(days)
           + "\n60\n";
}

/// Frames where value i of frame f is 100 f + i, so that every value names its place.
std::vector<float> numberedFrames(int cols, int rows, int frames) {
    std::vector<float> v;
    for (int f = 0; f < frames; ++f) {
        for (int i = 0; i < cols * rows; ++i) {
            v.push_back(static_cast<float>(100 * f + i));
        }
    }
    return v;
}

struct Outcome {
    int status = -1;
    std::string console;
};

/// A case folder laid out as the simulator leaves it: the parameter file above the output
/// folder in which the extractor runs.
class SeriesCase {
public:
    SeriesCase(int cols, int rows, int days) {
        test::writeText(dir_ / "param-event.dat", params(cols, rows, days));
    }

    void grid(const std::vector<float>& values) const {
        test::writeFloats(work() / "dischargeHourly.bin", values);
    }
    [[nodiscard]] fs::path work() const { return dir_ / "output"; }
    [[nodiscard]] fs::path root() const { return dir_.path(); }

    Outcome run(const std::string& answers) const {
        fs::create_directories(work());
        std::istringstream in(answers);
        std::ostringstream out;
        Outcome r;
        r.status = runDischargeSeries(in, out, work());
        r.console = out.str();
        return r;
    }
    [[nodiscard]] std::string series(int column, int row) const {
        return test::readText(
            work() / (std::to_string(column) + "-" + std::to_string(row) + "_discharge.dat"));
    }
    [[nodiscard]] bool hasSeries(int column, int row) const {
        return fs::exists(
            work() / (std::to_string(column) + "-" + std::to_string(row) + "_discharge.dat"));
    }

private:
    test::TempDir dir_;
};

/// The lines of a series, without their line feeds; fails on any other line end.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "last line has no line feed";
        if (end == std::string::npos) {
            break;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_EQ(text.find('\r'), std::string::npos);
    return out;
}

TEST(DischargeSeries, WholeDialogueAndSeriesFile) {
    SeriesCase c(3, 2, 1);
    c.grid(numberedFrames(3, 2, 24));
    const Outcome r = c.run("2\n1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.console,
              "Reading parameters for runoff simulation.\n"
              "  Number of col : 3  Number of row : 2\n"
              " Sorth West corner Longitude (degree) : -118.343 Latitude (deg) : 34.2314\n"
              "  Number of col : 17  Number of row : 9\n"
              "  Input data grid size of x-direction : 0.1\n"
              "  Input data grid size of y-direction : 0.1\n"
              "  West corner longitude of input data : -118.293\n"
              "  South corner latitude of input data : 34.2814\n"
              "3) Reading parameters for simuration duration.\n"
              "  Simulation duration (days) : 1\n"
              "Input column number to extract data!\n"
              "Column number begins from 1 from west.\n"
              "Input row number to extract data!\n"
              "Row number begins from 1 from south.\n"
              "Column number : 2 Row number : 1\n"
              "Read ./dischargeHourly.bin\n"
              "Write ./2-1_discharge.dat\r");
    std::string expected;
    for (int h = 1; h <= 24; ++h) {
        expected += std::to_string(h) + " " + std::to_string(100 * (h - 1) + 1) + "\n";
    }
    EXPECT_EQ(c.series(2, 1), expected);
}

TEST(DischargeSeries, CellPicksItsValueFromEveryFrame) {
    // 4 columns, 3 rows: row 1 is the first stored row (south), column 1 its first value (west).
    const int cols = 4;
    const int rows = 3;
    SeriesCase c(cols, rows, 2);
    c.grid(numberedFrames(cols, rows, 48));
    struct Pick {
        int column;
        int row;
        int index;
    };
    for (const Pick& p :
         {Pick{1, 1, 0}, Pick{cols, rows, cols * rows - 1}, Pick{2, 1, 1}, Pick{1, 2, cols},
          Pick{3, 2, cols + 2}, Pick{cols, 1, cols - 1}, Pick{1, rows, (rows - 1) * cols}}) {
        SCOPED_TRACE("column " + std::to_string(p.column) + " row " + std::to_string(p.row));
        const Outcome r = c.run(std::to_string(p.column) + " " + std::to_string(p.row) + "\n");
        ASSERT_EQ(r.status, 0) << r.console;
        const auto got = lines(c.series(p.column, p.row));
        ASSERT_EQ(got.size(), 48U);
        for (int h = 1; h <= 48; ++h) {
            EXPECT_EQ(got[static_cast<std::size_t>(h - 1)],
                      std::to_string(h) + " " + std::to_string(100 * (h - 1) + p.index));
        }
    }
}

TEST(DischargeSeries, AnswersOutsideTheGridAreRefused) {
    const int cols = 3;
    const int rows = 2;
    SeriesCase c(cols, rows, 1);
    c.grid(numberedFrames(cols, rows, 24));
    const std::string columnPrompt = "Column number begins from 1 from west.\n";
    const std::string rowPrompt = "Row number begins from 1 from south.\n";
    struct Answer {
        const char* typed;
        const char* message;  // nullptr: accepted
    };
    const char* const badColumn = "Column number is out of range!\n";
    const char* const badRow = "Row number is out of range!\n";
    for (const Answer& a :
         {Answer{"3 2", nullptr}, Answer{"+3 02", nullptr}, Answer{"4 1", badColumn},
          Answer{"0 1", badColumn}, Answer{"-1 1", badColumn}, Answer{"-2147483648 1", badColumn},
          Answer{"99999999999 1", badColumn}, Answer{"x 1", badColumn}, Answer{"2.5 1", badColumn},
          Answer{"1e0 1", badColumn}, Answer{"", badColumn}, Answer{"1 3", badRow},
          Answer{"1 0", badRow}, Answer{"1 -7", badRow}, Answer{"1 two", badRow},
          Answer{"1", badRow}}) {
        SCOPED_TRACE(std::string("answers \"") + a.typed + "\"");
        fs::remove_all(c.work());
        c.grid(numberedFrames(cols, rows, 24));
        const Outcome r = c.run(a.typed);
        if (a.message == nullptr) {
            EXPECT_EQ(r.status, 0) << r.console;
            EXPECT_TRUE(c.hasSeries(3, 2));
            continue;
        }
        EXPECT_EQ(r.status, 1);
        ASSERT_GE(r.console.size(), std::string(a.message).size());
        EXPECT_TRUE(r.console.ends_with(a.message)) << r.console;
        // The row is asked for only after the column has passed.
        const bool rowAsked = r.console.find(rowPrompt) != std::string::npos;
        EXPECT_EQ(rowAsked, std::string(a.message) == badRow);
        EXPECT_NE(r.console.find(columnPrompt), std::string::npos);
        EXPECT_EQ(r.console.find("Read "), std::string::npos);
        EXPECT_FALSE(fs::exists(c.work() / "1-1_discharge.dat"));
    }
}

TEST(DischargeSeries, DurationSetsTheNumberOfLines) {
    {
        SCOPED_TRACE("0 days: an empty file");
        SeriesCase c(2, 2, 0);
        c.grid({});
        const Outcome r = c.run("1 1");
        EXPECT_EQ(r.status, 0) << r.console;
        ASSERT_TRUE(c.hasSeries(1, 1));
        EXPECT_EQ(c.series(1, 1), "");
    }
    {
        SCOPED_TRACE("1 day: hours 1 to 24");
        SeriesCase c(1, 1, 1);
        c.grid(std::vector<float>(24, 0.5F));
        ASSERT_EQ(c.run("1 1").status, 0);
        const auto got = lines(c.series(1, 1));
        ASSERT_EQ(got.size(), 24U);
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i], std::to_string(i + 1) + " 0.5");
        }
    }
    {
        SCOPED_TRACE("417 days: more than 10000 hours");
        SeriesCase c(2, 1, 417);
        c.grid(numberedFrames(2, 1, 417 * 24));
        const Outcome r = c.run("2 1");
        ASSERT_EQ(r.status, 0) << r.console;
        const auto got = lines(c.series(2, 1));
        ASSERT_EQ(got.size(), 10008U);
        EXPECT_EQ(got[10000], "10001 1e+06");  // 100 * 10000 + 1 in 6 significant digits
        EXPECT_EQ(got.back(), "10008 1.0007e+06");
    }
}

TEST(DischargeSeries, ValuesPrintWithSixSignificantDigits) {
    const std::vector<float> values = {0.1F,         1e-05F,      123456789.0F, 0.0F,
                                       1234567.0F,   2.5F,        100000.0F,    -9999.0F,
                                       0.000123456F, 3.14159274F, 1e+06F,       999999.5F};
    const std::vector<std::string> printed = {"0.1",         "1e-05",   "1.23457e+08", "0",
                                              "1.23457e+06", "2.5",     "100000",      "-9999",
                                              "0.000123456", "3.14159", "1e+06",       "1e+06"};
    std::vector<float> grid(24, 7.0F);
    std::copy(values.begin(), values.end(), grid.begin());
    SeriesCase c(1, 1, 1);
    c.grid(grid);
    ASSERT_EQ(c.run("1 1").status, 0);
    const auto got = lines(c.series(1, 1));
    ASSERT_EQ(got.size(), 24U);
    for (std::size_t i = 0; i < printed.size(); ++i) {
        SCOPED_TRACE("hour " + std::to_string(i + 1));
        EXPECT_EQ(got[i], std::to_string(i + 1) + " " + printed[i]);
    }
    EXPECT_EQ(got.back(), "24 7");
}

TEST(DischargeSeries, BorderCellShowsNoDataEveryHour) {
    // 3 x 3: only the centre carries discharge.
    std::vector<float> grid;
    for (int f = 0; f < 48; ++f) {
        for (int i = 0; i < 9; ++i) {
            grid.push_back(i == 4 ? 1.25F * static_cast<float>(f) : -9999.0F);
        }
    }
    SeriesCase c(3, 3, 2);
    c.grid(grid);
    for (const auto& [column, row] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{2, 3}}) {
        SCOPED_TRACE("column " + std::to_string(column) + " row " + std::to_string(row));
        ASSERT_EQ(c.run(std::to_string(column) + " " + std::to_string(row)).status, 0);
        const auto got = lines(c.series(column, row));
        ASSERT_EQ(got.size(), 48U);
        for (std::size_t h = 0; h < got.size(); ++h) {
            EXPECT_EQ(got[h], std::to_string(h + 1) + " -9999");
        }
    }
    ASSERT_EQ(c.run("2 2").status, 0);
    EXPECT_EQ(lines(c.series(2, 2))[3], "4 3.75");
}

TEST(DischargeSeries, ExistingSeriesFileIsReplaced) {
    SeriesCase c(1, 1, 1);
    c.grid(std::vector<float>(24, 2.0F));
    test::writeText(c.work() / "1-1_discharge.dat", std::string(5000, 'x'));
    ASSERT_EQ(c.run("1 1").status, 0);
    std::string expected;
    for (int h = 1; h <= 24; ++h) {
        expected += std::to_string(h) + " 2\n";
    }
    EXPECT_EQ(c.series(1, 1), expected);
}

TEST(DischargeSeries, MissingInputsEndWithTheirMessage) {
    {
        SCOPED_TRACE("no parameter file");
        test::TempDir dir;
        std::istringstream in("1 1");
        std::ostringstream out;
        EXPECT_EQ(runDischargeSeries(in, out, dir.path()), 1);
        EXPECT_EQ(out.str(),
                  "Reading parameters for runoff simulation.\nparam-event.dat cannot open.\n");
    }
    {
        SCOPED_TRACE("a malformed parameter file asks for nothing");
        SeriesCase c(2, 2, 1);
        test::writeText(c.root() / "param-event.dat", "2 2 0 0 1 1 1 1 0 0 1.5\n");
        const Outcome r = c.run("1 1");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.console.find("Input column"), std::string::npos) << r.console;
        EXPECT_NE(r.console.find("param-event.dat"), std::string::npos);
    }
    {
        SCOPED_TRACE("no discharge file");
        SeriesCase c(2, 2, 1);
        const Outcome r = c.run("1 1");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(
            r.console.ends_with("Read ./dischargeHourly.bin\nDischarge data cannot open.\n"))
            << r.console;
        EXPECT_FALSE(c.hasSeries(1, 1));
    }
}

TEST(DischargeSeries, ShortDischargeFileIsReportedBeforeAnyOutput) {
    for (const std::size_t values :
         {std::size_t{0}, std::size_t{6 * 47}, std::size_t{6 * 48 - 1}}) {
        SCOPED_TRACE(std::to_string(values) + " values");
        SeriesCase c(3, 2, 2);
        auto grid = numberedFrames(3, 2, 48);
        grid.resize(values);
        c.grid(grid);
        const Outcome r = c.run("1 1");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.console.ends_with(
            "Discharge data ./dischargeHourly.bin holds " + std::to_string(values / 6)
            + " hourly frames of 3 columns x 2 rows; the simulation duration needs 48.\n"))
            << r.console;
        EXPECT_EQ(r.console.find("Write "), std::string::npos);
        EXPECT_FALSE(c.hasSeries(1, 1));
    }
}

TEST(DischargeSeries, OffsetsBeyondFourBillionValues) {
    // 24 frames of 20000 x 10000 values: 4.8e9 values, a 19 GB file kept sparse. Only the
    // chosen cell's values are present; an offset cut to 32 bits would land on a hole (0).
    const int cols = 20000;
    const int rows = 10000;
    const std::uint64_t frameValues = std::uint64_t{cols} * rows;
    const std::uint64_t cell = std::uint64_t{rows - 1} * cols + (cols - 1);
    SeriesCase c(cols, rows, 1);
    const fs::path grid = c.work() / "dischargeHourly.bin";
    c.grid({});
    std::error_code ec;
    fs::resize_file(grid, 24 * frameValues * 4, ec);
    if (ec) {
        GTEST_SKIP() << "no sparse file of 19 GB here: " << ec.message();
    }
    {
        std::fstream out(grid, std::ios::in | std::ios::out | std::ios::binary);
        for (std::uint64_t f = 0; f < 24; ++f) {
            const float value = 1.5F + static_cast<float>(f);
            out.seekp(static_cast<std::streamoff>((f * frameValues + cell) * 4));
            out.write(reinterpret_cast<const char*>(&value), sizeof value);
        }
        ASSERT_TRUE(out.good());
    }
    const Outcome r = c.run("20000 10000");
    ASSERT_EQ(r.status, 0) << r.console;
    const auto got = lines(c.series(cols, rows));
    ASSERT_EQ(got.size(), 24U);
    for (std::size_t h = 0; h < got.size(); ++h) {
        EXPECT_EQ(got[h], std::to_string(h + 1) + " " + std::to_string(h + 1) + ".5");
    }
}

TEST(DischargeSeries, SeriesFileThatCannotBeWrittenFails) {
    {
        SCOPED_TRACE("a folder stands where the file should be");
        SeriesCase c(1, 1, 1);
        c.grid(std::vector<float>(24, 1.0F));
        fs::create_directories(c.work() / "1-1_discharge.dat");
        const Outcome r = c.run("1 1");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.console.ends_with(
            "Write ./1-1_discharge.dat\rTime series discharge output file cannot open.\n"))
            << r.console;
    }
    {
        // A file-size limit stands in for a full disk: writes past it fail with EFBIG. The
        // series goes to a temporary file first, so an earlier series under the final name
        // stays whole and nothing half-written is left behind.
        SCOPED_TRACE("the disk is full");
        SeriesCase c(1, 1, 1);
        c.grid(std::vector<float>(24, 1.0F));
        test::writeText(c.work() / "1-1_discharge.dat", "an earlier series\n");
        rlimit old{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 40;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const Outcome r = c.run("1 1");
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(
            r.console.ends_with("Write ./1-1_discharge.dat\rTime series discharge output "
                                "file ./1-1_discharge.dat could not be written.\n"))
            << r.console;
        EXPECT_EQ(test::readText(c.work() / "1-1_discharge.dat"), "an earlier series\n");
        EXPECT_FALSE(fs::exists(c.work() / "1-1_discharge.dat.part"));
    }
}

TEST(DischargeSeries, GridFromAPipeIsReadInOrder) {
    // A pipe cannot seek or tell its size: the values are streamed and counted instead.
    for (const int frames : {48, 47}) {
        SCOPED_TRACE(std::to_string(frames) + " frames in the pipe");
        SeriesCase c(3, 2, 2);
        fs::create_directories(c.work());
        const fs::path pipe = c.work() / "dischargeHourly.bin";
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        std::thread writer([&pipe, frames] {
            const auto values = numberedFrames(3, 2, frames);
            std::ofstream out(pipe, std::ios::binary);
            out.write(reinterpret_cast<const char*>(values.data()),
                      static_cast<std::streamsize>(values.size() * sizeof(float)));
        });
        const Outcome r = c.run("2 2");
        writer.join();
        if (frames == 48) {
            ASSERT_EQ(r.status, 0) << r.console;
            const auto got = lines(c.series(2, 2));
            ASSERT_EQ(got.size(), 48U);
            EXPECT_EQ(got.back(), "48 4704");
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(
                r.console.ends_with("holds 47 hourly frames of 3 columns x 2 rows; the "
                                    "simulation duration needs 48.\n"))
                << r.console;
            EXPECT_FALSE(c.hasSeries(2, 2));
        }
    }
}

}  // namespace
}  // namespace hydro

namespace hydro {
namespace {

TEST(DischargeSeries, FramesOfAnotherGridAreRefused) {
    // Ten-column frames read as nine columns would give the values of other cells.
    SeriesCase c(9, 5, 1);
    c.grid(numberedFrames(10, 5, 24));
    const Outcome r = c.run("2 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.console.ends_with(
        "dischargeHourly.bin holds 4800 bytes, not a whole number of frames of 9 columns x 5 "
        "rows (180 bytes each): it was written for another grid than param-event.dat "
        "describes.\n"))
        << r.console;
    EXPECT_FALSE(c.hasSeries(2, 2));
}

}  // namespace
}  // namespace hydro
