#pragma once

// When the event happens. Each block of "input/rain.dat" is headed by six integers, the year,
// month, day, hour, minute and second (UTC) of the start of its hour; the simulator skips
// them, and every other tool takes the event's start from the first block. Hour h of the
// event (from 1) ends at start + h hours.

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/result.h"

namespace hydro {

struct EventStart {
    std::int32_t year = 2000;
    std::int32_t month = 1;
    std::int32_t day = 1;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    /// True when the first header is not a valid date and 2000-01-01 00:00:00 stands in.
    bool fallback = false;

    /// Seconds from 1970-01-01T00:00:00Z (proleptic Gregorian calendar, no leap seconds).
    [[nodiscard]] std::int64_t unixSeconds() const;
    /// ISO 8601 UTC text of the start plus `seconds`, e.g. "2000-01-01T01:00:00Z".
    [[nodiscard]] std::string isoAfter(std::int64_t seconds) const;
    /// The end of event hour `eventHour` (from 1), in ISO 8601 UTC.
    [[nodiscard]] std::string hourEnd(std::int64_t eventHour) const {
        return isoAfter(eventHour * 3600);
    }
    /// "2000-01-01 00:00:00", for units such as "hours since ...".
    [[nodiscard]] std::string unitsText() const;
};

/// The event start from the first block header of `rainPath`. Errors: "ROF file cannot open."
/// when the file cannot be opened. A header that is missing or not a valid date gives the
/// fallback start.
[[nodiscard]] Result<EventStart> readEventStart(const std::filesystem::path& rainPath);

/// The date and time `unixSeconds` after 1970-01-01T00:00:00Z as an EventStart.
[[nodiscard]] EventStart fromUnixSeconds(std::int64_t unixSeconds);

}  // namespace hydro
