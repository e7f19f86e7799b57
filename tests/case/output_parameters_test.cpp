#include <gtest/gtest.h>

#include <sstream>

#include "case/event_parameters.h"
#include "tests/support/test_support.h"

namespace hydro {
namespace {

constexpr const char* kParams =
    "199 107\n-118.3430 34.2314\n17 9\n0.1 0.1\n-118.2930 34.2814\n2\n60\n4\n0.6\n";

enum class ParameterStatus { kOk, kCannotOpen, kBadValue };

/// Reads as a post-processor does, printing the error line at the end of the echo.
ParameterStatus readWith(const std::string& text, EchoStyle style, std::string& console,
                         OutputParameters& p) {
    test::TempDir dir;
    test::writeText(dir / "param-event.dat", text);
    std::ostringstream out;
    const auto read = readOutputParameters(dir / "param-event.dat", &out, style);
    if (!read) {
        out << read.error().message << '\n';
        console = out.str();
        return read.error().kind == ErrorKind::kCannotOpen ? ParameterStatus::kCannotOpen
                                                           : ParameterStatus::kBadValue;
    }
    p = *read;
    console = out.str();
    return ParameterStatus::kOk;
}

TEST(OutputParameters, MapEchoHasHeadingsAndAnEmptyLine) {
    std::string console;
    OutputParameters p;
    ASSERT_EQ(readWith(kParams, EchoStyle::kMap, console, p), ParameterStatus::kOk);
    EXPECT_EQ(console,
              "Reading parameters for runoff simulation.\n"
              "1) Reading parameters for study area.\n"
              "  Number of col : 199  Number of row : 107\n"
              " Sorth West corner Longitude (degree) : -118.343 Latitude (deg) : 34.2314\n"
              "2) Reading parameters for input data.\n"
              "  Number of col : 17  Number of row : 9\n"
              "  Input data grid size of x-direction : 0.1\n"
              "  Input data grid size of y-direction : 0.1\n"
              "  West corner longitude of input data : -118.293\n"
              "  South corner latitude of input data : 34.2814\n"
              "3) Reading parameters for simuration duration.\n"
              "  Simulation duration (days) : 2\n"
              "\n");
    EXPECT_EQ(p.studyCols, 199);
    EXPECT_EQ(p.studyRows, 107);
    EXPECT_EQ(p.days, 2);
    EXPECT_EQ(p.swLon, -118.3430);  // kept at double precision
}

TEST(OutputParameters, SeriesEchoHasNeitherHeadingsNorEmptyLine) {
    std::string console;
    OutputParameters p;
    ASSERT_EQ(readWith("3 4 0.1 1e-05 1 1 0.5 0.5 0 0 0", EchoStyle::kSeries, console, p),
              ParameterStatus::kOk);
    EXPECT_EQ(console,
              "Reading parameters for runoff simulation.\n"
              "  Number of col : 3  Number of row : 4\n"
              " Sorth West corner Longitude (degree) : 0.1 Latitude (deg) : 1e-05\n"
              "  Number of col : 1  Number of row : 1\n"
              "  Input data grid size of x-direction : 0.5\n"
              "  Input data grid size of y-direction : 0.5\n"
              "  West corner longitude of input data : 0\n"
              "  South corner latitude of input data : 0\n"
              "3) Reading parameters for simuration duration.\n"
              "  Simulation duration (days) : 0\n");
}

TEST(OutputParameters, BadFilesAreNamedWithTheValue) {
    struct Case {
        const char* text;
        const char* lastLine;
    };
    const Case cases[] = {
        {"199 107 -118.3 34.2 17 9 0.1 0.1 -118.2 34.2",
         "param-event.dat ends before value 11 (simulation duration in days)."},
        {"199 107 -118.3 34.2 17 9 0.1 0.1 -118.2 34.2 2.0",
         "param-event.dat value 11 (simulation duration in days) is not an integer: \"2.0\""},
        {"-1 107",
         "param-event.dat value 1 (number of columns of the study area) must not be "
         "negative: -1"},
        {"5 5 abc",
         "param-event.dat value 3 (south-west corner longitude) is not a number: "
         "\"abc\""},
        {"5 5 1 1 2 2 1 1 1 1 -3",
         "param-event.dat value 11 (simulation duration in days) must not be negative: -3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string console;
        OutputParameters p;
        EXPECT_EQ(readWith(c.text, EchoStyle::kSeries, console, p), ParameterStatus::kBadValue);
        ASSERT_FALSE(console.empty());
        console.pop_back();
        EXPECT_EQ(console.substr(console.rfind('\n') + 1), c.lastLine);
    }
}

TEST(OutputParameters, MissingFile) {
    test::TempDir dir;
    std::ostringstream out;
    const auto read = readOutputParameters(dir / "param-event.dat", &out, EchoStyle::kMap);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind, ErrorKind::kCannotOpen);
    EXPECT_EQ(out.str() + read.error().message,
              "Reading parameters for runoff simulation.\nparam-event.dat cannot open.");
}

}  // namespace
}  // namespace hydro
