#pragma once

// How a gauge's snapping is reported, the same in every tool that places gauges or outlets on
// the grid: the distance as the snapping window counts it, and the warning when the cell found
// drains an area far from the one the gauge gives.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hydro {

/// A snapped cell whose upstream area differs from the gauge's given area by more than this
/// share of the given area is reported as a likely wrong river.
inline constexpr double kSnapAreaTolerance = 0.20;

/// The heading of the distance column in the snapping tables.
inline constexpr std::string_view kSnapDistanceHeading = "distance (cells)";

/// The distance from the cell holding a gauge to the cell it snapped to, in cells as
/// `--snap-radius` counts them: the larger of the two offsets.
[[nodiscard]] std::int64_t snapDistanceCells(std::int64_t columnOffset, std::int64_t rowOffset);

/// Whether `foundKm2` is within kSnapAreaTolerance of `givenKm2` (which is above 0).
[[nodiscard]] bool areaWithinTolerance(double foundKm2, double givenKm2);

/// The console line, starting "Warning:", for gauge `id` snapped within `radius` cells to a
/// cell draining `foundKm2` where `givenKm2` is given; `reachingRadius` is the smallest
/// `--snap-radius` that reaches a cell within the tolerance, if any cell of the grid is.
[[nodiscard]] std::string snapAreaWarning(std::string_view id, double foundKm2, double givenKm2,
                                          std::int64_t radius,
                                          std::optional<std::int64_t> reachingRadius);

}  // namespace hydro
