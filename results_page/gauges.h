#pragma once

// The gauge tables of the case's output folder: the gauged cells (gauge_cells.csv), their
// observed discharge (gauge_observed.csv) and the spread of an ensemble at them
// (ensemble/gauge_quantiles.csv), shown on the map and in the hydrographs.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace hydro::results_page {

struct Observation {
    double hour = 0.0;   ///< hours after the event start at which the hour of the value ends
    double value = 0.0;  ///< m3/s
};

/// One hour of an ensemble's spread at a gauge.
struct FanHour {
    double hour = 0.0;          ///< hours after the event start at which the hour ends
    std::array<double, 5> q{};  ///< m3/s: the 5, 25, 50, 75 and 95 % quantiles of the members
};

struct Gauge {
    std::string id;
    std::int32_t column = 0;  ///< from the west, from 1
    std::int32_t row = 0;     ///< from the south, from 1
    double lon = 0.0;         ///< degrees
    double lat = 0.0;
    double upstreamKm2 = 0.0;
    std::string river;
    std::vector<Observation> observed;
    std::vector<FanHour> fan;  ///< the ensemble's hours at the gauge, in time order
};

/// Reads gauge_cells.csv ("id,column,row,lon,lat,upstream_km2,river" and a line per gauge) and,
/// when given, gauge_observed.csv ("time,<id1>,<id2>,..." and a line per time, empty where
/// nothing was observed). Gauges must lie in the `cols` x `rows` grid; observation times, ISO
/// 8601 date-times as parseIsoInstant reads them, are turned into hours after `startSeconds`. The
/// error is one line naming the file, its line and what is wrong.
[[nodiscard]] Result<std::vector<Gauge>> parseGauges(std::string_view cellsCsv,
                                                     const std::optional<std::string>& observedCsv,
                                                     std::int32_t cols, std::int32_t rows,
                                                     std::int64_t startSeconds);

/// The name under which the ensemble's quantile table is read and named in errors.
inline constexpr std::string_view kQuantilesName = "ensemble/gauge_quantiles.csv";

/// Reads the ensemble's quantile table ("gauge,time,q05,q25,q50,q75,q95" with an optional
/// eighth column "p_exceed", and a line per gauge and hour) into the `fan` of `gauges`. Times
/// must be ends of the event's hours 1..`hours` after `startSeconds`, later for each gauge
/// than its previous line; quantiles finite and 0 or more; p_exceed empty or from 0 to 1.
/// Lines of gauges not in `gauges` are skipped: their ids are returned, in the order they
/// first appear. The error is one line naming the file, its line and, for a bad value, the
/// column; `gauges` are then left as they were.
[[nodiscard]] Result<std::vector<std::string>> addEnsembleFan(std::string_view quantilesCsv,
                                                              std::vector<Gauge>& gauges,
                                                              std::int64_t startSeconds,
                                                              std::int64_t hours);

}  // namespace hydro::results_page
