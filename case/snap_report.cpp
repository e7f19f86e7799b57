#include "case/snap_report.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <locale>
#include <sstream>

namespace hydro {

std::int64_t snapDistanceCells(std::int64_t columnOffset, std::int64_t rowOffset) {
    return std::max(std::abs(columnOffset), std::abs(rowOffset));
}

bool areaWithinTolerance(double foundKm2, double givenKm2) {
    return std::abs(foundKm2 - givenKm2) <= kSnapAreaTolerance * givenKm2;
}

std::string snapAreaWarning(std::string_view id, double foundKm2, double givenKm2,
                            std::int64_t radius, std::optional<std::int64_t> reachingRadius) {
    std::ostringstream line;
    line.imbue(std::locale::classic());
    const auto percent = static_cast<int>(std::lround(kSnapAreaTolerance * 100.0));
    line << std::fixed << std::setprecision(1) << "Warning: gauge " << id
         << " snapped to a cell draining " << foundKm2 << " km2, but " << givenKm2
         << " km2 is given (off by more than " << percent << " %) within --snap-radius " << radius
         << "; ";
    if (reachingRadius) {
        line << "--snap-radius " << *reachingRadius << " reaches a cell within " << percent
             << " %.";
    } else {
        line << "no cell of the grid comes within " << percent
             << " %: check the gauge's position and area.";
    }
    return line.str();
}

}  // namespace hydro
