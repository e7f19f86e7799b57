#pragma once

// Times of the event: hour h (from 1) ends at the event start plus h hours, UTC.

#include <cstdint>
#include <string>

#include "discharge_netcdf/case_input.h"

namespace hydro::results {

/// The CF time units of the event: "hours since YYYY-MM-DD hh:mm:ss" (UTC).
[[nodiscard]] std::string hoursSinceUnits(const EventStart& start);

/// The ISO 8601 UTC time at the end of hour `hour` of the event ("2000-01-01T01:00:00Z").
[[nodiscard]] std::string isoHourEnd(const EventStart& start, std::int64_t hour);

/// The current time as ISO 8601 UTC, for history notes.
[[nodiscard]] std::string isoNow();

}  // namespace hydro::results
