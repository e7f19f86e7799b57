// The gauge list and the observation table: columns in any order, optional areas, line ends,
// alignment of observations to the event's hours, and the inputs that must be refused.

#include "results/gauge_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hydro::results {
namespace {

TEST(GaugeTable, ColumnsInAnyOrderWithOptionalArea) {
    const auto g =
        parseGauges("lat,id,area_km2,lon,name\r\n34.5, A-1 ,120.5,-118,x\r\n\n34.6,B.2,,-117.5,y",
                    "gauges.csv");
    ASSERT_TRUE(g.ok()) << g.error().message;
    ASSERT_EQ(g->size(), 2U);
    EXPECT_EQ((*g)[0].id, "A-1");
    EXPECT_EQ((*g)[0].lon, -118.0);
    EXPECT_EQ((*g)[0].lat, 34.5);
    EXPECT_EQ((*g)[0].areaKm2, 120.5);
    EXPECT_EQ((*g)[1].id, "B.2");
    EXPECT_FALSE((*g)[1].areaKm2);
}

TEST(GaugeTable, OptionalThresholdOfZeroOrMore) {
    const auto g = parseGauges("id,lon,lat,threshold_m3s\nA,1,2,150.5\nB,1,2,\nC,1,2,0\n", "g.csv");
    ASSERT_TRUE(g.ok()) << g.error().message;
    EXPECT_EQ((*g)[0].thresholdM3s, 150.5);
    EXPECT_FALSE((*g)[1].thresholdM3s);
    EXPECT_EQ((*g)[2].thresholdM3s, 0.0);
    for (const char* bad : {"-1", "high", "inf"}) {
        const auto r =
            parseGauges(std::string("id,lon,lat,threshold_m3s\nA,1,2,") + bad + "\n", "g.csv");
        ASSERT_FALSE(r.ok()) << bad;
        EXPECT_EQ(r.error().message, std::string("g.csv line 2: threshold_m3s of A must be a "
                                                 "number of 0 or more, not \"")
                                         + bad + "\".");
    }
}

TEST(GaugeTable, RefusedGaugeLists) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "g.csv is empty: it needs a header id,lon,lat and a line per gauge."},
        {"id,lon\nA,1\n",
         "g.csv has no column \"lat\" in its header (id,lon,lat and optionally area_km2)."},
        {"id,lon,lat\n", "g.csv lists no gauge."},
        {"id,lon,lat,area_km\nA,1,2,3\n",
         "g.csv line 1: unknown column area_km (did you mean area_km2?); the columns are id, lon, "
         "lat and optionally area_km2."},
        {"id,long,lat\nA,1,2\n",
         "g.csv line 1: unknown column long (did you mean lon?); the columns are id, lon, lat and "
         "optionally area_km2."},
        {"id,lon,lat\nA,1,2\nA,3,4\n", "g.csv line 3: the id A is given twice."},
        {"id,lon,lat\n../x,1,2\n",
         "g.csv line 2: the id \"../x\" must be 1 to 64 letters, digits, '_', '-' or '.' (not "
         "first)."},
        {"id,lon,lat\nA,1\n", "g.csv line 2 has 2 cells, but the header 3."},
        {"id,lon,lat\nA,east,2\n",
         "g.csv line 2: lon and lat of A must be numbers (degrees), not \"east\" and \"2\"."},
        {"id,lon,lat\nA,nan,2\n",
         "g.csv line 2: lon and lat of A must be numbers (degrees), not \"nan\" and \"2\"."},
        {"id,lon,lat,area_km2\nA,1,2,0\n",
         "g.csv line 2: area_km2 of A must be a number above 0, not \"0\"."},
        // Bytes of the file that are not printable come quoted.
        {"id,lon,lat\nA\x01,1,2\n",
         "g.csv line 2: the id \"A\\x01\" must be 1 to 64 letters, digits, '_', '-' or '.' (not "
         "first)."},
        {std::string("id,lon,lat\nA,\0"
                     "1,\x7f\n",
                     18),
         "g.csv line 2: lon and lat of A must be numbers (degrees), not \"\\x001\" and \"\\x7F\"."},
        {"id,lon,lat,area_km2\nA,1,2,\x1b[2J\n",
         "g.csv line 2: area_km2 of A must be a number above 0, not \"\\x1B[2J\"."},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        const auto g = parseGauges(text, "g.csv");
        ASSERT_FALSE(g.ok());
        EXPECT_EQ(g.error().message, message);
    }
}

std::vector<Gauge> twoGauges() {
    return {Gauge{"A", 0.0, 0.0, std::nullopt, std::nullopt},
            Gauge{"B", 0.0, 0.0, std::nullopt, std::nullopt}};
}

TEST(GaugeTable, ObservationsAlignToTheEventsHours) {
    EventStart start;  // 2000-01-01 00:00:00
    const std::string text =
        "time,X,A\n"
        "1999-12-31T23:00:00Z,1,1\n"  // before the event: skipped
        "2000-01-01T03:00:00Z,,3.5\n"
        "2000-01-01T01:00:00Z,9,1e1\n"
        "2000-01-01T02:00:00Z,9,\n";
    const auto obs = parseObservations(text, "obs.csv", twoGauges(), start, 24);
    ASSERT_TRUE(obs.ok()) << obs.error().message;
    ASSERT_EQ(obs->series.size(), 2U);
    const auto& a = obs->series[0];
    ASSERT_EQ(a.size(), 24U);
    EXPECT_EQ(a[0], 10.0);
    EXPECT_FALSE(a[1]);
    EXPECT_EQ(a[2], 3.5);
    EXPECT_FALSE(a[3]);
    EXPECT_TRUE(obs->series[1].empty());  // no column for B
    EXPECT_EQ(obs->rowsOutsideEvent, 1);
    EXPECT_EQ(obs->unknownIds, std::vector<std::string>{"X"});
}

TEST(GaugeTable, RefusedObservationTables) {
    EventStart start;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"id,A\n", "o.csv must start its header with the column \"time\"."},
        {"time,A,A\n", "o.csv names the column A twice."},
        {"time,A\n2000-01-01T01:00:00Z,1\n2000-01-01T01:00:00Z,2\n",
         "o.csv line 3: the time 2000-01-01T01:00:00Z is given twice."},
        {"time,A\n2000-01-01T01:00:00Z,-1\n",
         "o.csv line 2: the discharge of A must be a number of 0 or more (m3/s) or empty, not "
         "\"-1\"."},
        {"time,A\n2000-01-01T01:00:00Z,n/a\n",
         "o.csv line 2: the discharge of A must be a number of 0 or more (m3/s) or empty, not "
         "\"n/a\"."},
        {"time,A\n2000-01-01T01:00:00Z\n", "o.csv line 2 has 1 cells, but the header 2."},
        {"time,A\nyesterday,1\n",
         "o.csv line 2: the time \"yesterday\" is not an ISO 8601 time (such as "
         "2000-01-01T01:00:00Z)."},
        {"time,A\n2000-02-30T01:00:00Z,1\n",
         "o.csv line 2: the time \"2000-02-30T01:00:00Z\" is no date of the calendar."},
        // Bytes of the file that are not printable come quoted.
        {"time,\x01,\x01\n", "o.csv names the column \\x01 twice."},
        {"time,A\n2000-01-01T01:00:00Z,\xc3\xa9\n",
         "o.csv line 2: the discharge of A must be a number of 0 or more (m3/s) or empty, not "
         "\"\\xC3\\xA9\"."},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        const auto obs = parseObservations(text, "o.csv", twoGauges(), start, 24);
        ASSERT_FALSE(obs.ok());
        EXPECT_EQ(obs.error().message, message);
    }
}

}  // namespace
}  // namespace hydro::results
