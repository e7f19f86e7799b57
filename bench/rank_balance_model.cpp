// The balance of a run spread over ranks, worked out from the plans alone: for 2, 16, 64 and
// 256 ranks, the pieces the trees are cut into, the largest rank's cell-hours against the
// average, the time of a 48-hour event against a perfectly balanced run of the same work
// (ticks as the simulator runs them, each rank waiting only for the ranks that feed it),
// and the bytes each rank sends per hour, on a case folder (argument) and on a synthetic
// forest of 50 million cells whose river sizes follow a power law.
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
#include "routing/processing_order.h"
#include "routing/routing_setup.h"
#include "runoff_sim/rank_split.h"

namespace {

using hydro::runoff::Decomposition;

/// A river of `cells` cells appended to `reader` in the plans' order (every cell after the
/// cells that drain into it): a main stem of about 1.5 * cells^0.6 cells, fed along its length
/// by tributaries whose sizes follow the same power law, each a river of its own. Returns the
/// index of its outlet, whose reader stays -1.
std::int32_t appendRiver(std::int64_t cells, std::mt19937_64& random,
                         std::vector<std::int32_t>& reader) {
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const auto stem = std::clamp<std::int64_t>(
        std::llround(1.5 * std::pow(static_cast<double>(cells), 0.6)), 1, cells);
    std::int64_t left = cells - stem;
    std::vector<std::pair<std::int64_t, std::int64_t>> tributaries;  // stem position, size
    const std::int64_t largest = std::max<std::int64_t>(1, cells / 3);
    while (left > 0) {
        const auto drawn = static_cast<std::int64_t>(std::pow(1.0 - uniform(random), -1.0 / 0.9));
        const std::int64_t size = std::min({std::max<std::int64_t>(drawn, 1), largest, left});
        tributaries.emplace_back(
            static_cast<std::int64_t>(uniform(random) * static_cast<double>(stem)), size);
        left -= size;
    }
    std::sort(tributaries.begin(), tributaries.end());
    std::int32_t previous = -1;
    std::size_t next = 0;
    std::vector<std::int32_t> joining;
    for (std::int64_t k = 0; k < stem; ++k) {
        joining.clear();
        for (; next < tributaries.size() && tributaries[next].first == k; ++next) {
            joining.push_back(appendRiver(tributaries[next].second, random, reader));
        }
        const auto cell = static_cast<std::int32_t>(reader.size());
        reader.push_back(-1);
        for (const std::int32_t j : joining) {
            reader[static_cast<std::size_t>(j)] = cell;
        }
        if (previous >= 0) {
            reader[static_cast<std::size_t>(previous)] = cell;
        }
        previous = cell;
    }
    return previous;
}

/// Rivers of a continent at 30 arc-seconds: sizes drawn from a Pareto law P(size > s) ~ s^-0.9
/// from 1 cell up to 3 % of the total (the largest basin of a continent), until `total` cells.
std::vector<std::int32_t> powerLawForest(std::int64_t total) {
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const double largest = 0.03 * static_cast<double>(total);
    std::vector<std::int32_t> reader;
    reader.reserve(static_cast<std::size_t>(total));
    std::int64_t cells = 0;
    while (cells < total) {
        const double u = uniform(random);
        auto size = static_cast<std::int64_t>(std::min(largest, std::pow(1.0 - u, -1.0 / 0.9)));
        size = std::min(std::max<std::int64_t>(size, 1), total - cells);
        appendRiver(size, random, reader);
        cells += size;
    }
    return reader;
}

struct Model {
    double imbalance = 0.0;
    double tickImbalance = 0.0;
    std::int64_t largestPiece = 0;
    std::int64_t crossingCuts = 0;
    double bytesPerHour = 0.0;  ///< the rank sending most
};

Model model(const std::vector<std::int32_t>& reader, const Decomposition& d, std::int64_t subSteps,
            std::int64_t hours) {
    Model m;
    m.imbalance = hydro::runoff::loadImbalance(d);
    const auto ranks = static_cast<std::size_t>(d.ranks);
    const auto levels = static_cast<std::size_t>(d.levels);
    std::vector<std::int64_t> work(ranks * levels, 0);  // cells per rank and level
    std::vector<std::int64_t> cells(ranks, 0);
    for (std::size_t p = 0; p < d.pieceCells.size(); ++p) {
        const auto r = static_cast<std::size_t>(d.pieceRank[p]);
        work[r * levels + static_cast<std::size_t>(d.pieceLevel[p])] += d.pieceCells[p];
        cells[r] += d.pieceCells[p];
        m.largestPiece = std::max(m.largestPiece, d.pieceCells[p]);
    }
    // Tick t runs level k through hour t - k. A rank starts a tick once it has finished its
    // previous one and every rank that feeds it has finished that tick too (the frames' window
    // is taken as wide enough), so ranks fed by nobody run ahead of the ranks they feed.
    std::vector<std::vector<std::size_t>> feeders(ranks);
    for (std::size_t i = 0; i < d.cuts.size(); ++i) {
        const auto from = static_cast<std::size_t>(
            d.pieceRank[static_cast<std::size_t>(d.pieceOf[static_cast<std::size_t>(d.cuts[i])])]);
        const auto to =
            static_cast<std::size_t>(d.pieceRank[static_cast<std::size_t>(d.cutInto[i])]);
        if (from != to
            && std::find(feeders[to].begin(), feeders[to].end(), from) == feeders[to].end()) {
            feeders[to].push_back(from);
        }
    }
    std::vector<double> finished(ranks, 0.0);
    std::vector<double> previous(ranks, 0.0);
    for (std::int64_t t = 0; t < hours + d.levels - 1; ++t) {
        previous = finished;
        for (std::size_t r = 0; r < ranks; ++r) {
            double start = previous[r];
            for (const std::size_t f : feeders[r]) {
                start = std::max(start, previous[f]);
            }
            std::int64_t tickWork = 0;
            for (std::size_t k = 0; k < levels; ++k) {
                const std::int64_t hour = t - static_cast<std::int64_t>(k);
                if (hour >= 0 && hour < hours) {
                    tickWork += work[r * levels + k];
                }
            }
            finished[r] = start + static_cast<double>(tickWork);
        }
    }
    const double ideal = static_cast<double>(reader.size()) * static_cast<double>(hours)
                         / static_cast<double>(ranks);
    m.tickImbalance = *std::max_element(finished.begin(), finished.end()) / ideal;
    // Each rank sends one sub-step series (4 bytes a value) per cut whose reader is on another
    // rank, and its frame values to rank 0 (hourly, and the two daily frames once a day).
    std::vector<std::int64_t> series(ranks, 0);
    for (std::size_t i = 0; i < d.cuts.size(); ++i) {
        const auto from =
            d.pieceRank[static_cast<std::size_t>(d.pieceOf[static_cast<std::size_t>(d.cuts[i])])];
        const auto to = d.pieceRank[static_cast<std::size_t>(d.cutInto[i])];
        if (from != to) {
            ++series[static_cast<std::size_t>(from)];
            ++m.crossingCuts;
        }
    }
    for (std::size_t r = 0; r < ranks; ++r) {
        const double bytes = static_cast<double>(series[r] * subSteps) * 4.0
                             + static_cast<double>(cells[r]) * 4.0 * (1.0 + 2.0 / 24.0);
        m.bytesPerHour = std::max(m.bytesPerHour, bytes);
    }
    return m;
}

void report(const char* name, const std::vector<std::int32_t>& reader, std::int64_t subSteps) {
    std::int64_t trees = 0;
    for (const std::int32_t r : reader) {
        trees += r < 0 ? 1 : 0;
    }
    std::cout << name << ": " << reader.size() << " cells in " << trees << " trees, " << subSteps
              << " sub-steps an hour, a 48-hour event\n";
    std::cout << "  ranks  pieces  levels  largest  cuts across  imbalance  event time   "
                 "  bytes sent per hour\n";
    for (const std::int32_t ranks : {2, 16, 64, 256}) {
        const Decomposition d = hydro::runoff::decompose(reader, ranks);
        const Model m = model(reader, d, subSteps, 48);
        std::cout << "  " << std::setw(5) << ranks << "  " << std::setw(6) << d.pieceCells.size()
                  << "  " << std::setw(6) << d.levels << "  " << std::setw(7) << m.largestPiece
                  << "  " << std::setw(11) << m.crossingCuts << "  " << std::setw(9) << std::fixed
                  << std::setprecision(3) << m.imbalance << "  " << std::setw(13) << m.tickImbalance
                  << "  " << std::setw(12) << std::setprecision(0) << m.bytesPerHour
                  << " (largest rank)\n";
    }
}

/// The reading forest of a case folder's plan, and its sub-steps per hour.
bool caseForest(const std::filesystem::path& dir, std::vector<std::int32_t>& reader,
                std::int64_t& subSteps) {
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
    reader = hydro::runoff::readersOf(*plan);
    subSteps = plan->subStepsPerHour;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::vector<std::int32_t> reader;
        std::int64_t subSteps = 0;
        if (!caseForest(argv[1], reader, subSteps)) {
            return 1;
        }
        report(argv[1], reader, subSteps);
    }
    report("synthetic power-law forest", powerLawForest(50'000'000), 60);
    return 0;
}
