#pragma once

// Times of the event as the result files write them: hour h (from 1) ends at the event start
// plus h hours, UTC.

#include <cstdint>
#include <span>
#include <string>

#include "case/event_start.h"

namespace hydro::results {

/// The CF time units of the event: "hours since YYYY-MM-DD hh:mm:ss" (UTC).
[[nodiscard]] inline std::string hoursSinceUnits(const EventStart& start) {
    return "hours since " + start.unitsText();
}

/// The ISO 8601 UTC time at the end of hour `hour` of the event ("2000-01-01T01:00:00Z").
[[nodiscard]] inline std::string isoHourEnd(const EventStart& start, std::int64_t hour) {
    return start.hourEnd(hour);
}

/// The current time as ISO 8601 UTC, for history notes.
[[nodiscard]] std::string isoNow();

/// The console and history note for a start that had to fall back to 2000-01-01.
inline constexpr const char* kFallbackNote =
    "rain.dat's first block header is not a valid date; times count from 2000-01-01 00:00:00.";

/// The `history` attribute of a file written now by `program` run with `args`: the time, the
/// command line, and on a line of its own kFallbackNote when the event's start fell back.
[[nodiscard]] std::string commandHistory(const std::string& program,
                                         std::span<const std::string> args,
                                         const EventStart& start);

}  // namespace hydro::results
