#pragma once

// The hourly discharge series of one cell as the series extractor writes it: one line
// "<hour> <value>" per hour of the event, hours 1, 2, ... in order, -9999 for a cell that has
// no discharge.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace hydro::results {

inline constexpr double kNoDischarge = -9999.0;

struct DischargeSeries {
    std::vector<double> values;       ///< m3/s, hour 1 first
    std::vector<std::string> tokens;  ///< each value as the file spells it
};

/// Reads a series of exactly `hours` lines. Each line holds the hour number (1 on the first
/// line, one more on each next) and a discharge that is 0 or more, or -9999; a series that
/// has -9999 in some hours and discharges in others is refused. The last line may end without
/// a line break; a carriage return before the line break is allowed. The error says what is
/// wrong and on which line, without naming the file.
[[nodiscard]] Result<DischargeSeries> parseSeries(std::string_view text, std::int64_t hours);

struct Peak {
    std::size_t index = 0;  ///< 0-based hour of the first largest value
    std::int64_t day = 0;   ///< 1-based
    std::int64_t hour = 0;  ///< 1..24 within the day
};

/// The first largest value; nothing when the series is empty or holds no discharge.
[[nodiscard]] std::optional<Peak> findPeak(const std::vector<double>& values);

}  // namespace hydro::results
