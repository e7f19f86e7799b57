// The balance of a run spread over ranks, worked out from the plans alone: for 2, 16, 64 and
// 256 ranks, the largest rank's cell-hours against the average and the bytes each rank sends
// per hour, on a case folder (argument) and on a synthetic forest of 50 million cells whose
// river sizes follow a power law.
//
//   rank_balance_model [case folder]

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <random>
#include <vector>

#include "case/case.h"
#include "runoff_sim/processing_order.h"
#include "runoff_sim/rank_split.h"
#include "runoff_sim/routing_setup.h"

namespace {

using hydro::runoff::assignBySize;

/// Rivers of a continent at 30 arc-seconds: sizes drawn from a Pareto law P(size > s) ~ s^-0.9
/// from 1 cell up to 3 % of the total (the largest basin of a continent), until `total` cells.
std::vector<std::size_t> powerLawForest(std::size_t total) {
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const double largest = 0.03 * static_cast<double>(total);
    std::vector<std::size_t> sizes;
    std::size_t cells = 0;
    while (cells < total) {
        const double u = uniform(random);
        auto size = static_cast<std::size_t>(std::min(largest, std::pow(1.0 - u, -1.0 / 0.9)));
        size = std::min(std::max<std::size_t>(size, 1), total - cells);
        sizes.push_back(size);
        cells += size;
    }
    return sizes;
}

void report(const char* name, const std::vector<std::size_t>& sizes) {
    std::size_t total = 0;
    for (const std::size_t s : sizes) {
        total += s;
    }
    std::cout << name << ": " << total << " cells in " << sizes.size() << " trees, largest "
              << *std::max_element(sizes.begin(), sizes.end()) << " cells\n";
    std::cout << "  ranks  imbalance (largest / average cell-hours)  bytes sent per hour\n";
    for (const std::int32_t ranks : {2, 16, 64, 256}) {
        const std::vector<std::int32_t> rankOf = assignBySize(sizes, ranks);
        std::vector<std::size_t> load(static_cast<std::size_t>(ranks), 0);
        for (std::size_t t = 0; t < sizes.size(); ++t) {
            load[static_cast<std::size_t>(rankOf[t])] += sizes[t];
        }
        const double average = static_cast<double>(total) / ranks;
        const double imbalance =
            static_cast<double>(*std::max_element(load.begin(), load.end())) / average;
        // Whole trees exchange nothing; each rank sends its hourly frame values (4 bytes a
        // cell, plus the two daily frames once in 24 hours) to rank 0.
        const double bytes = static_cast<double>(*std::max_element(load.begin(), load.end())) * 4.0
                             * (1.0 + 2.0 / 24.0);
        std::cout << "  " << std::setw(5) << ranks << "  " << std::setw(9) << std::fixed
                  << std::setprecision(3) << imbalance << "  " << std::setw(12)
                  << std::setprecision(0) << bytes << " (largest rank, to rank 0)\n";
    }
}

/// Tree sizes of a case folder's plan.
bool caseTrees(const std::filesystem::path& dir, std::vector<std::size_t>& sizes) {
    const hydro::CasePaths paths{dir};
    const auto p = hydro::readEventParameters(paths.parameters(), nullptr);
    if (!p) {
        std::cout << p.error().message << '\n';
        return false;
    }
    const auto rivers = hydro::readRiverList(paths.riverList());
    const auto grid = rivers ? hydro::buildDrainageNetwork(paths.topoData(), *p)
                             : hydro::Result<hydro::StudyGrid>(rivers.error());
    if (!rivers || !grid) {
        std::cout << (rivers ? grid.error() : rivers.error()).message << '\n';
        return false;
    }
    const hydro::RainGrid rain = hydro::placeRainPoints(*p);
    const auto plan = hydro::runoff::buildRoutingPlan(
        *grid, *rivers, hydro::runoff::orderRoutedCells(*grid, *rivers), rain, *p);
    if (!plan) {
        std::cout << plan.error().message << '\n';
        return false;
    }
    const std::vector<std::size_t> ends = hydro::runoff::treeEnds(*plan);
    for (std::size_t t = 0; t < ends.size(); ++t) {
        sizes.push_back(ends[t] - (t == 0 ? 0 : ends[t - 1]));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::vector<std::size_t> sizes;
        if (!caseTrees(argv[1], sizes)) {
            return 1;
        }
        report(argv[1], sizes);
    }
    report("synthetic power-law forest", powerLawForest(50'000'000));
    return 0;
}
