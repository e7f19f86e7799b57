#pragma once

// The gauge list (id,lon,lat with an optional area_km2 and threshold_m3s) and the observed
// discharge table (time,<id>,... with empty cells for missing values), as small comma-separated
// files.

#include <cstdint>
#include <filesystem>
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
    /// Discharge whose exceedance matters at the gauge (a warning level), m3/s.
    std::optional<double> thresholdM3s;
};

/// Parses the gauge list `text` read from `fileName`. Ids must be unique and made of letters,
/// digits, '_', '-' and '.' (they name files), up to 64 characters; lon and lat finite; an
/// area, when given, above 0; a threshold_m3s, when given, 0 or more. Columns may come in any
/// order; other columns are ignored, except one that misspells a known name (misspeltName),
/// which is an error naming it.
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

/// The whole text of a gauge or observation table at `path`. Errors: "<path> is a folder, not
/// a table.", "<path> is too large for a table." (above 1 GiB), "<path> cannot open.",
/// "<path> cannot be read.".
[[nodiscard]] Result<std::string> readTableFile(const std::filesystem::path& path);

}  // namespace hydro::results
