// The gauge tables: observations placed on the event's hours, and each
// malformed table refused with a line naming the file and the line.

#include "results_page/gauges.h"

#include <gtest/gtest.h>

namespace hydro::results_page {
namespace {

const char* const kCells =
    "id,column,row,lon,lat,upstream_km2,river\n"
    "A,2,3,135.01,35.02,12.5,1\n"
    "\"B 2\",4,1,135.03,35.0,3,2\n";
const std::int64_t kStart = 946684800;  // 2000-01-01T00:00:00Z

TEST(GaugeTables, PlaceObservationsOnTheEventsHours) {
    const auto parsed = parseGauges(kCells,
                                    std::string("time,A,B 2\r\n"
                                                "2000-01-01T01:00:00Z,1.5,\r\n"
                                                "2000-01-01T02:00:00Z,,7\r\n"
                                                "2000-01-02T00:00:00Z,3,4\r\n"),
                                    5, 4, kStart);
    ASSERT_TRUE(parsed.ok()) << parsed.error().message;
    ASSERT_EQ(parsed->size(), 2U);
    const Gauge& a = (*parsed)[0];
    EXPECT_EQ(a.id, "A");
    EXPECT_EQ(a.column, 2);
    EXPECT_EQ(a.row, 3);
    EXPECT_DOUBLE_EQ(a.upstreamKm2, 12.5);
    ASSERT_EQ(a.observed.size(), 2U);
    EXPECT_DOUBLE_EQ(a.observed[0].hour, 1.0);
    EXPECT_DOUBLE_EQ(a.observed[0].value, 1.5);
    EXPECT_DOUBLE_EQ(a.observed[1].hour, 24.0);
    const Gauge& b = (*parsed)[1];
    EXPECT_EQ(b.id, "B 2");
    ASSERT_EQ(b.observed.size(), 2U);
    EXPECT_DOUBLE_EQ(b.observed[0].hour, 2.0);
    EXPECT_DOUBLE_EQ(b.observed[0].value, 7.0);

    // Without observations the gauges are still marked.
    const auto cellsOnly = parseGauges(kCells, std::nullopt, 5, 4, kStart);
    ASSERT_TRUE(cellsOnly.ok());
    EXPECT_EQ(cellsOnly->size(), 2U);
}

TEST(GaugeTables, RefuseWhatTheyCannotPlace) {
    struct Case {
        std::string cells;
        std::optional<std::string> observed;
        std::string error;
    };
    const std::vector<Case> cases{
        {"column,row\n", std::nullopt,
         "gauge_cells.csv line 1: the header must read id,column,row,lon,lat,upstream_km2,river."},
        {std::string(kCells) + "C,6,1,0,0,0,1\n", std::nullopt,
         "gauge_cells.csv line 4: column 6, row 1 lies outside the study grid of 5 columns and 4 "
         "rows."},
        {std::string(kCells) + "A,1,1,0,0,0,1\n", std::nullopt,
         "gauge_cells.csv line 4: gauge \"A\" is listed twice."},
        {std::string(kCells) + "C,x,1,0,0,0,1\n", std::nullopt,
         "gauge_cells.csv line 4: an id, whole column and row numbers and three numbers are "
         "needed."},
        {kCells, std::string("time,A,Z\n"),
         "gauge_observed.csv line 1: gauge \"Z\" is not in gauge_cells.csv."},
        {kCells, std::string("time,A\n2000-01-01T01:00:00Z,1,2\n"),
         "gauge_observed.csv line 2: expected 2 fields, found 3."},
        {kCells, std::string("time,A\nyesterday,1\n"),
         "gauge_observed.csv line 2: \"yesterday\" is not an ISO 8601 time (such as "
         "2000-01-01T01:00:00Z)."},
        {kCells, std::string("time,A\n2000-01-01T01:00:00Z,high\n"),
         "gauge_observed.csv line 2: \"high\" is not a discharge in m3/s."},
        // What the tables hold comes back short and printable.
        {"id,column,row,lon,lat,upstream_km2,river\n\x1b[2J\x07,1,1,0,0,0,1\n"
         "\x1b[2J\x07,1,1,0,0,0,1\n",
         std::nullopt, "gauge_cells.csv line 3: gauge \"\\x1B[2J\\x07\" is listed twice."},
        {kCells, "time,A," + std::string(100000, 'Z') + "\n",
         "gauge_observed.csv line 1: gauge \"" + std::string(40, 'Z')
             + "...\" is not in gauge_cells.csv."},
        {kCells, "time,A\n2000-01-01T01:00:00Z,\x1b]0;" + std::string(1000000, '1') + "\n",
         "gauge_observed.csv line 2: \"\\x1B]0;" + std::string(36, '1')
             + "...\" is not a discharge in m3/s."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const auto parsed = parseGauges(c.cells, c.observed, 5, 4, kStart);
        ASSERT_FALSE(parsed.ok());
        EXPECT_EQ(parsed.error().message, c.error);
    }
}

}  // namespace
}  // namespace hydro::results_page
