#pragma once

// The conversion of an hour's rain at a cell's nearest rainfall point into the lateral inflow
// that the kinematic wave takes in.

#include <cstdint>

#include "case/grid_cell.h"
#include "case/rain_grid.h"

namespace hydro::runoff {

/// Lateral inflow per metre of flow path, m^2/s, of a rain intensity in mm/hr falling on a
/// cell of width `cellWidth` drained over `flowLength`.
[[nodiscard]] inline double lateralInflow(float rainIntensity, float cellWidth, double flowLength) {
    return static_cast<double>(rainIntensity) * 0.001 * kCellHeight * static_cast<double>(cellWidth)
           / flowLength / 3600.0;
}

struct LateralPair {
    double prev;  ///< from the previous hour (day 0 for the first hour of the event)
    double now;   ///< from this hour
};

/// `lateralPrev` and `lateralNow` of a cell for `day` 1..days and `hour` 1..24.
[[nodiscard]] LateralPair updateLateralInflow(const RainGrid& grid, std::int32_t point,
                                              std::int32_t day, std::int32_t hour, float cellWidth,
                                              double flowLength);

}  // namespace hydro::runoff
