#pragma once

// Byte images of what rank 0 hands to the other ranks of a parallel run, so that only rank 0
// ever holds the whole basin: a rank's own work, the rainfall and the routes of the cuts. An
// image is read back only by the same build (the values are copied as they lie in memory).

#include <cstddef>
#include <span>
#include <vector>

#include "case/rain_grid.h"
#include "runoff_sim/rank_split.h"

namespace hydro::runoff {

[[nodiscard]] std::vector<std::byte> packRankWork(const RankWork& work);
/// Throws std::invalid_argument when `bytes` is not a whole image.
[[nodiscard]] RankWork unpackRankWork(std::span<const std::byte> bytes);

[[nodiscard]] std::vector<std::byte> packRain(const RainGrid& rain);
[[nodiscard]] RainGrid unpackRain(std::span<const std::byte> bytes);

[[nodiscard]] std::vector<std::byte> packRoutes(std::span<const CutRoute> routes);
[[nodiscard]] std::vector<CutRoute> unpackRoutes(std::span<const std::byte> bytes);

}  // namespace hydro::runoff
