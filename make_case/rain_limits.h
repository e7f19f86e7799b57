#pragma once

// The bounds every rain source of make_case applies alike (rainfall products and rain gauges).

#include <cstdint>

namespace hydro::make_case {

/// More rain than this in one hour is a data fault (the heaviest hours measured hold about
/// 300 mm), such as a no-data marker or a wrong scale; it also keeps every value well within
/// single precision.
inline constexpr double kMaxRainMmPerHour = 1000.0;

/// Events longer than a leap year are refused: the simulator holds every hour of every point.
inline constexpr std::int64_t kMaxEventHours = std::int64_t{366} * 24;

/// Rain grids above this many points are refused (the study grid is 30" cells at most).
inline constexpr std::int64_t kMaxRainPoints = 4'000'000;

}  // namespace hydro::make_case
