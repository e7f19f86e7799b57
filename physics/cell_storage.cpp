#include "physics/cell_storage.h"

#include <cmath>

#include "physics/conservative_wave.h"
#include "physics/kinematic_wave.h"

namespace hydro::runoff {

double cellStorage(bool conservative, double dx, double alpha, std::span<const double> nodes) {
    double total = 0.0;
    if (conservative) {
        for (std::size_t j = 1; j < nodes.size(); ++j) {
            total += boxAreaOf(nodes[j]) * dx;
        }
        return total;
    }
    const double inverseM = 1.0 / exponentMOf(1.0);
    for (std::size_t j = 1; j < nodes.size(); ++j) {
        const double q = nodes[j];
        if (q > 0.0) {
            total += std::pow(q / alpha, inverseM) * dx;
        }
    }
    return total;
}

double outletDischarge(bool conservative, double alpha, std::span<const double> nodes) {
    if (nodes.empty()) {
        return 0.0;
    }
    const double last = nodes.back();
    if (!conservative) {
        return last;
    }
    BoxCell cell;
    cell.alpha = alpha;
    return boxDischargeOf(cell, last);
}

}  // namespace hydro::runoff
