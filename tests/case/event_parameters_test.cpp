#include "case/event_parameters.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/test_support.h"

namespace hydro {
namespace {

struct Read {
    std::optional<EventParameters> params;
    std::string console;
};

Read readText(const std::string& text) {
    test::TempDir dir;
    test::writeText(dir / "param-event.dat", text);
    std::ostringstream out;
    auto p = readEventParameters(dir / "param-event.dat", &out);
    if (!p) {
        // As the programs print it, after the lines echoed before the failing value.
        out << p.error().message << '\n';
        return {std::nullopt, out.str()};
    }
    return {*p, out.str()};
}

constexpr const char* kValid =
    "199 107\n-118.3430 34.2314\n17 9\n0.1 0.1\n-118.2930 34.2814\n2\n60\n4\n0.6\n0.6\n0.03\n"
    "50\n0.1\n";

TEST(EventParameters, EchoAndPrecisionOfEveryValue) {
    const Read r = readText(kValid);
    ASSERT_TRUE(r.params.has_value());
    EXPECT_EQ(r.console,
              "Reading parameters for runoff simulation.\n"
              "1) Reading parameters for study area.\n"
              "  Number of col : 199  Number of row : 107\n"
              " Sorth West corner Longitude (degree) : -118.343 Latitude (deg) : 34.2314\n"
              "2) Reading parameters for input data.\n"
              "  Number of col : 17  Number of row : 9\n"
              "  Input data grid size of x-direction : 0.1\n"
              "  Input data grid size of y-direction : 0.1\n"
              "  Longitude of the center of the Southwest corner of input data (degree) : "
              "-118.293\n"
              "  Latitude of the center of the Southwest corner of input data (degree) : 34.2814\n"
              "3) Reading parameters for simuration duration.\n"
              "  Simulation duration (days) : 2\n"
              "4) Reading parameters for finite difference condition.\n"
              "  Finite difference time step (sec) : 60\n"
              "  Finite difference space step : 4\n"
              "  Finite difference weight : 0.6\n"
              "5) Reading parameters for kinematic wave model.\n"
              "  Manning roughmess coefficient for slope [m/s] : 0.6\n"
              "  Manning roughmess coefficient for channel [m/s] : 0.03\n"
              "  Area to classify slope and channel : 50\n"
              "6) Reading itinial discharge for kinematic wave model.\n"
              "  Initial runoff height [mm/hr] : 0.1\n");
    const EventParameters& p = *r.params;
    // Values 3 and 4 are converted straight to single precision; 7 to 10 through double.
    EXPECT_EQ(p.swLon, -118.3430F);
    EXPECT_EQ(p.rainDx, static_cast<float>(0.1));
    EXPECT_EQ(p.subStepsPerHour, 60);
    EXPECT_EQ(p.weight, 0.6);
    EXPECT_EQ(p.channelArea, 50);
    EXPECT_EQ(p.initialRunoff, 0.1);
}

TEST(EventParameters, LayoutDoesNotMatterAndTrailingTextIsIgnored) {
    std::string oneLine = kValid;
    for (char& ch : oneLine) {
        if (ch == '\n') {
            ch = ' ';
        }
    }
    const Read a = readText(kValid);
    const Read b = readText(oneLine + " trailing words 12.0");
    ASSERT_TRUE(b.params.has_value());
    EXPECT_EQ(a.console, b.console);
}

TEST(EventParameters, SubStepsPerHourIsIntegerDivision) {
    for (const auto& [step, expected] :
         std::vector<std::pair<int, int>>{{60, 60}, {7, 514}, {3600, 1}, {1, 3600}, {1801, 1}}) {
        SCOPED_TRACE(step);
        const Read r =
            readText("5 5 0.1 35 1 1 1 1 0 0 1 " + std::to_string(step) + " 4 0.5 0.6 0.03 5 0");
        ASSERT_TRUE(r.params.has_value());
        EXPECT_EQ(r.params->subStepsPerHour, expected);
    }
    // 0.1 is held as the nearest float and echoed as 0.1.
    const Read r = readText("5 5 0.1 35 1 1 1 1 0 0 1 60 4 0.5 0.6 0.03 5 0");
    EXPECT_NE(r.console.find(" Sorth West corner Longitude (degree) : 0.1 Latitude (deg) : 35\n"),
              std::string::npos);
}

TEST(EventParameters, BadValuesAreNamedAndEarlierEchoStays) {
    struct Case {
        const char* text;
        const char* lastLine;
    };
    const Case cases[] = {
        {"", "param-event.dat ends before value 1 (number of columns of the study area)."},
        {"5 5 0.1 35 1 1 1 1 0 0 12.0 60 4 0.5 0.6 0.03 5 0",
         "param-event.dat value 11 (simulation duration in days) is not an integer: \"12.0\""},
        {"5 5 0.1 35 1 1 1 1 0 0 1 0 4 0.5 0.6 0.03 5 0",
         "param-event.dat value 12 (finite difference time step in seconds) must be from 1 to "
         "3600: 0"},
        {"5 5 0.1 35 1 1 1 1 0 0 1 3601 4 0.5 0.6 0.03 5 0",
         "param-event.dat value 12 (finite difference time step in seconds) must be from 1 to "
         "3600: 3601"},
        {"5 5 0.1 35 1 1 1 1 0 0 1 60 0 0.5 0.6 0.03 5 0",
         "param-event.dat value 13 (finite difference space steps) must be at least 1: 0"},
        {"0 5",
         "param-event.dat value 1 (number of columns of the study area) must be at least "
         "1: 0"},
        {"5 5 0.1 35 1 0",
         "param-event.dat value 6 (number of rows of the input data) must be at "
         "least 1: 0"},
        {"5 5 0.1 35 1 1 1 1 0 0 0",
         "param-event.dat value 11 (simulation duration in days) "
         "must be at least 1: 0"},
        {"5 5 0.1 35 1 1 1 1 0 0 1 60 4 0.5 0 0.03 5 0",
         "param-event.dat value 15 (Manning roughness for slope) must be above 0: 0"},
        {"5 5 0.1 35 1 1 1 1 0 0 1 60 4 0.5 0.6 -0.03 5 0",
         "param-event.dat value 16 (Manning roughness for channel) must be above 0: -0.03"},
        {"5 5 0.1 35 1 1 1 1 0 0 1 60 4 0.5 0.6 0.03 5 -1",
         "param-event.dat value 18 (initial runoff height) must be 0 or more: -1"},
        {"5 5 0.1 35 1 1 1 1 0 0 1 60 4 0.5 0.6 0.03 5",
         "param-event.dat ends before value 18 (initial runoff height)."},
        {"5 5 0.1 1e39",
         "param-event.dat value 4 (south-west corner latitude) is not a number: "
         "\"1e39\""},
        {"5 5 0.1 35 1 1 1 1 0 0 1 60 4 0.5 0.6 0.03 5.5 0",
         "param-event.dat value 17 (area to classify slope and channel) is not an integer: "
         "\"5.5\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Read r = readText(c.text);
        EXPECT_FALSE(r.params.has_value());
        ASSERT_FALSE(r.console.empty());
        r.console.pop_back();
        EXPECT_EQ(r.console.substr(r.console.rfind('\n') + 1), c.lastLine);
    }
    // The lines echoed before the failing value stay.
    const Read r = readText("5 5 0.1 35 1 1 1 1 0 0 1 60 4 0.5 0.6 0.03 5 x");
    EXPECT_NE(r.console.find("  Area to classify slope and channel : 5\n"
                             "6) Reading itinial discharge for kinematic wave model.\n"
                             "param-event.dat value 18"),
              std::string::npos);
}

TEST(EventParameters, LatitudesAreShownAsJudged) {
    // 89.8 reads as 89.8000031 in single precision: 24 rows end just beyond the pole, and the
    // line shows the north edge with the digits that put it there.
    EventParameters p;
    p.swLat = 89.8F;
    p.studyRows = 24;
    const Status beyond = checkLatitudes(p);
    ASSERT_FALSE(beyond);
    EXPECT_NE(beyond.error().message.find("from latitude 89.8 to 90.000003 degrees"),
              std::string::npos)
        << beyond.error().message;
    p.swLat = 0.0F;
    p.studyRows = 90 * 120;
    EXPECT_TRUE(checkLatitudes(p));
}

TEST(EventParameters, MissingFile) {
    test::TempDir dir;
    std::ostringstream out;
    const auto read = readEventParameters(dir / "param-event.dat", &out);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind, ErrorKind::kCannotOpen);
    EXPECT_EQ(out.str() + read.error().message,
              "Reading parameters for runoff simulation.\nparam-event.dat cannot open.");
    // A folder in place of the file cannot be opened either.
    std::filesystem::create_directory(dir / "param-event.dat");
    EXPECT_EQ(readEventParameters(dir / "param-event.dat").error().kind, ErrorKind::kCannotOpen);
}

}  // namespace
}  // namespace hydro
