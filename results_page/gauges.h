#pragma once

// The gauge tables of the case's output folder: the gauged cells (gauge_cells.csv) and their
// observed discharge (gauge_observed.csv), shown on the map and in the hydrographs.

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

struct Gauge {
    std::string id;
    std::int32_t column = 0;  ///< from the west, from 1
    std::int32_t row = 0;     ///< from the south, from 1
    double lon = 0.0;         ///< degrees
    double lat = 0.0;
    double upstreamKm2 = 0.0;
    std::string river;
    std::vector<Observation> observed;
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

}  // namespace hydro::results_page
