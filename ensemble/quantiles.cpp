#include "ensemble/quantiles.h"

#include <algorithm>
#include <cmath>

namespace hydro::ensemble {

double quantileOfSorted(std::span<const double> sorted, double p) {
    const double h = static_cast<double>(sorted.size() - 1) * p;
    const double below = std::floor(h);
    const auto lo = static_cast<std::size_t>(below);
    if (lo + 1 >= sorted.size()) {
        return sorted[sorted.size() - 1];
    }
    return sorted[lo] + (h - below) * (sorted[lo + 1] - sorted[lo]);
}

std::vector<std::array<double, 5>> hourlyQuantiles(
    const std::vector<const std::vector<float>*>& members) {
    std::vector<std::array<double, 5>> out;
    if (members.empty()) {
        return out;
    }
    const std::size_t hours = members.front()->size();
    out.resize(hours);
    std::vector<double> values(members.size());
    for (std::size_t h = 0; h < hours; ++h) {
        for (std::size_t m = 0; m < members.size(); ++m) {
            values[m] = static_cast<double>((*members[m])[h]);
        }
        std::ranges::sort(values);
        for (std::size_t q = 0; q < kQuantileLevels.size(); ++q) {
            out[h][q] = quantileOfSorted(values, kQuantileLevels[q]);
        }
    }
    return out;
}

std::vector<double> hourlyExceedance(const std::vector<const std::vector<float>*>& members,
                                     double threshold) {
    std::vector<double> out;
    if (members.empty()) {
        return out;
    }
    const std::size_t hours = members.front()->size();
    out.resize(hours);
    for (std::size_t h = 0; h < hours; ++h) {
        std::size_t above = 0;
        for (const auto* m : members) {
            if (static_cast<double>((*m)[h]) > threshold) {
                ++above;
            }
        }
        out[h] = static_cast<double>(above) / static_cast<double>(members.size());
    }
    return out;
}

}  // namespace hydro::ensemble
