#include "routing/rain_cell.h"

namespace hydro::runoff {

LateralPair updateLateralInflow(const RainGrid& grid, std::int32_t point, std::int32_t day,
                                std::int32_t hour, float cellWidth, double flowLength) {
    const float now = grid.rainAt(point, day, hour - 1);
    const float prev =
        hour >= 2 ? grid.rainAt(point, day, hour - 2) : grid.rainAt(point, day - 1, 23);
    return {lateralInflow(prev, cellWidth, flowLength), lateralInflow(now, cellWidth, flowLength)};
}

}  // namespace hydro::runoff
