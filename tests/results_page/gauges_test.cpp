// The gauge tables: observations and an ensemble's quantiles placed on the event's hours, and
// each malformed table refused with a line naming the file and the line (and the column).

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

TEST(EnsembleFan, PlacesTheQuantilesOnTheGaugesHoursAndSkipsUnknownGauges) {
    auto gauges = parseGauges(kCells, std::nullopt, 5, 4, kStart);
    ASSERT_TRUE(gauges.ok());
    // As the ensemble writes it with a threshold at one gauge: p_exceed empty at the other.
    const auto skipped = addEnsembleFan(
        "gauge,time,q05,q25,q50,q75,q95,p_exceed\r\n"
        "A,2000-01-01T01:00:00Z,1,2,3,4,5,0.2\r\n"
        "GONE,2000-01-01T01:00:00Z,1,1,1,1,1,\r\n"
        "A,2000-01-01T03:00:00Z,0,0.5,1.25,2,2.5e1,1\r\n"
        "\"B 2\",2000-01-02T00:00:00Z,7,7,7,7,7,\r\n"
        "OTHER,1999,x,,,,,\r\n"
        "GONE,2000-01-01T02:00:00Z,1,1,1,1,1,\r\n",
        *gauges, kStart, 24);
    ASSERT_TRUE(skipped.ok()) << skipped.error().message;
    EXPECT_EQ(*skipped, (std::vector<std::string>{"GONE", "OTHER"}));
    const Gauge& a = (*gauges)[0];
    ASSERT_EQ(a.fan.size(), 2U);
    EXPECT_DOUBLE_EQ(a.fan[0].hour, 1.0);
    EXPECT_EQ(a.fan[0].q, (std::array<double, 5>{1, 2, 3, 4, 5}));
    EXPECT_DOUBLE_EQ(a.fan[1].hour, 3.0);
    EXPECT_EQ(a.fan[1].q, (std::array<double, 5>{0, 0.5, 1.25, 2, 25}));
    ASSERT_EQ((*gauges)[1].fan.size(), 1U);
    EXPECT_DOUBLE_EQ((*gauges)[1].fan[0].hour, 24.0);

    // Without p_exceed, and for a page without gauges: every line skipped, nothing refused.
    std::vector<Gauge> none;
    const auto all = addEnsembleFan(
        "gauge,time,q05,q25,q50,q75,q95\nA,2000-01-01T01:00:00Z,1,2,"
        "3,4,5\n",
        none, kStart, 24);
    ASSERT_TRUE(all.ok()) << all.error().message;
    EXPECT_EQ(*all, std::vector<std::string>{"A"});
}

TEST(EnsembleFan, RefusesATableThatIsNotTheEnsemblesAndLeavesTheGaugesAsTheyWere) {
    const std::string header = "gauge,time,q05,q25,q50,q75,q95\n";
    const std::string good = "A,2000-01-01T01:00:00Z,1,2,3,4,5\n";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"",
         "ensemble/gauge_quantiles.csv line 1: the header must read "
         "gauge,time,q05,q25,q50,q75,q95."},
        {"gauge,time,q05,q50,q95\n",
         "ensemble/gauge_quantiles.csv line 1: the header must read "
         "gauge,time,q05,q25,q50,q75,q95 and optionally ,p_exceed."},
        {"gauge,time,q05,q25,q50,q75,q95,share\n",
         "ensemble/gauge_quantiles.csv line 1: the header must read "
         "gauge,time,q05,q25,q50,q75,q95 and optionally ,p_exceed."},
        {header + good + "A,2000-01-01T02:00:00Z,1,2,3,4\n",
         "ensemble/gauge_quantiles.csv line 3: expected 7 fields, found 6."},
        // Rows of unknown gauges are skipped, but only when they have the table's shape.
        {header + "Z,2000-01-01T02:00:00Z,1\n",
         "ensemble/gauge_quantiles.csv line 2: expected 7 fields, found 3."},
        {header + "A,tomorrow,1,2,3,4,5\n",
         "ensemble/gauge_quantiles.csv line 2, column time: \"tomorrow\" is not an ISO 8601 "
         "time (such as 2000-01-01T01:00:00Z)."},
        // Another event's ensemble, the event's start, half hours.
        {header + "A,2000-01-03T01:00:00Z,1,2,3,4,5\n",
         "ensemble/gauge_quantiles.csv line 2, column time: \"2000-01-03T01:00:00Z\" is not the "
         "end of an hour of this case's event (1 to 24 hours after its start)."},
        {header + "A,2000-01-01T00:00:00Z,1,2,3,4,5\n",
         "ensemble/gauge_quantiles.csv line 2, column time: \"2000-01-01T00:00:00Z\" is not the "
         "end of an hour of this case's event (1 to 24 hours after its start)."},
        {header + "A,2000-01-01T01:30:00Z,1,2,3,4,5\n",
         "ensemble/gauge_quantiles.csv line 2, column time: \"2000-01-01T01:30:00Z\" is not the "
         "end of an hour of this case's event (1 to 24 hours after its start)."},
        {header + good + good,
         "ensemble/gauge_quantiles.csv line 3, column time: \"2000-01-01T01:00:00Z\" does not "
         "come after the previous time of gauge \"A\"."},
        {header + "A,2000-01-01T01:00:00Z,1,2,,4,5\n",
         "ensemble/gauge_quantiles.csv line 2, column q50: \"\" is not a discharge in m3/s."},
        {header + "A,2000-01-01T01:00:00Z,1,2,3,4,-5\n",
         "ensemble/gauge_quantiles.csv line 2, column q95: \"-5\" is not a discharge in m3/s."},
        {header + "A,2000-01-01T01:00:00Z,nan,2,3,4,5\n",
         "ensemble/gauge_quantiles.csv line 2, column q05: \"nan\" is not a discharge in m3/s."},
        {"gauge,time,q05,q25,q50,q75,q95,p_exceed\nA,2000-01-01T01:00:00Z,1,2,3,4,5,1.5\n",
         "ensemble/gauge_quantiles.csv line 2, column p_exceed: \"1.5\" is not a share from 0 "
         "to 1."},
        {header + "A,2000-01-01T01:00:00Z,1,2,3,\x1b[2J" + std::string(1000, '9') + ",5\n",
         "ensemble/gauge_quantiles.csv line 2, column q75: \"\\x1B[2J" + std::string(36, '9')
             + "...\" is not a discharge in m3/s."},
    };
    for (const auto& [table, error] : cases) {
        SCOPED_TRACE(error);
        auto gauges = parseGauges(kCells, std::nullopt, 5, 4, kStart);
        ASSERT_TRUE(gauges.ok());
        const auto added = addEnsembleFan(table, *gauges, kStart, 24);
        ASSERT_FALSE(added.ok());
        EXPECT_EQ(added.error().message, error);
        EXPECT_TRUE((*gauges)[0].fan.empty());
    }
}

}  // namespace
}  // namespace hydro::results_page
