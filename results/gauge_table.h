#pragma once

// The gauge list (id,lon,lat with an optional area_km2) and the observed discharge table
// (time,<id>,... with empty cells for missing values), as small comma-separated files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "case/case.h"

namespace hydro::results {

struct Gauge {
    std::string id;
    double lon = 0.0;               ///< degrees east
    double lat = 0.0;               ///< degrees north
    std::optional<double> areaKm2;  ///< drainage area the gauge reports, km2
};

/// Parses the gauge list `text` read from `fileName`. Ids must be unique and made of letters,
/// digits, '_', '-' and '.' (they name files), up to 64 characters; lon and lat finite; an
/// area, when given, above 0. Columns may come in any order; other columns are ignored, except
/// one that misspells a known name (misspeltName), which is an error naming it.
Result<std::vector<Gauge>> parseGauges(std::string_view text, const std::string& fileName);

struct Observations {
    /// Per gauge of the list (in its order), the observed discharge of hours 1..H, m3/s;
    /// empty when the table has no column for the gauge.
    std::vector<std::vector<std::optional<double>>> series;
    std::int64_t rowsOutsideEvent = 0;    ///< rows whose time is no hour end of the event
    std::vector<std::string> unknownIds;  ///< columns that name no gauge of the list
};

/// Parses the observation table `text` against the gauge list: each row's time is an ISO 8601
/// date-time in any form parseIsoInstant takes ("2000-01-01T01:00:00Z", "2000-01-01T02:00+01:00");
/// rows whose time is no hour end of the event are counted and skipped; a time that cannot be
/// read, a time given twice, a value that is not a number or is negative, and a row with the
/// wrong number of cells are errors naming the line.
Result<Observations> parseObservations(std::string_view text, const std::string& fileName,
                                       const std::vector<Gauge>& gauges, const EventStart& start,
                                       std::int64_t hours);

/// Splits one line of a comma-separated file into its cells, each trimmed of blanks; a
/// carriage return at the end is dropped.
[[nodiscard]] std::vector<std::string> splitCsvLine(std::string_view line);

}  // namespace hydro::results
