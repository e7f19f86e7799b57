#include "runoff_sim/routing_setup.h"

#include <algorithm>

#include "common/console.h"

namespace hydro::runoff {

namespace {

/// Renumbers the routed cells in depth-first post-order of the reading forest (each cell after
/// the cells it reads), the order in which the time loop tends to take them, so that it walks
/// its tables mostly forward in memory. Which cell reads which is unchanged.
void placeForLocality(RoutingPlan& plan) {
    const auto n = static_cast<std::int32_t>(plan.cells.size());
    std::vector<std::int32_t> order;  // new position -> old index
    order.reserve(plan.cells.size());
    std::vector<std::pair<std::int32_t, std::int32_t>> stack;  // cell, next slot to visit
    for (std::int32_t root = 0; root < n; ++root) {
        if (plan.cells[static_cast<std::size_t>(root)].reader >= 0) {
            continue;
        }
        stack.emplace_back(root, 0);
        while (!stack.empty()) {
            const std::int32_t cell = stack.back().first;
            const RoutedCell& rc = plan.cells[static_cast<std::size_t>(cell)];
            std::int32_t next = -1;
            while (stack.back().second < rc.sourceCount && next < 0) {
                next = plan.sourceOf(rc, stack.back().second++);
            }
            if (next >= 0) {
                stack.emplace_back(next, 0);
            } else {
                order.push_back(cell);
                stack.pop_back();
            }
        }
    }
    std::vector<std::int32_t> position(plan.cells.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        position[static_cast<std::size_t>(order[k])] = static_cast<std::int32_t>(k);
    }
    const auto nodesPerCell = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
    std::vector<RoutedCell> cells(plan.cells.size());
    std::vector<std::int32_t> sources;
    sources.reserve(plan.sources.size());
    std::vector<double> nodes(plan.nodes.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const auto old = static_cast<std::size_t>(order[k]);
        RoutedCell rc = plan.cells[old];
        if (rc.reader >= 0) {
            rc.reader = position[static_cast<std::size_t>(rc.reader)];
        }
        const std::int32_t first = static_cast<std::int32_t>(sources.size());
        for (std::int32_t slot = 0; slot < rc.sourceCount; ++slot) {
            const std::int32_t src = plan.sourceOf(rc, slot);
            sources.push_back(src >= 0 ? position[static_cast<std::size_t>(src)] : -1);
        }
        rc.firstSource = first;
        std::copy_n(plan.nodes.begin() + static_cast<std::ptrdiff_t>(old * nodesPerCell),
                    nodesPerCell, nodes.begin() + static_cast<std::ptrdiff_t>(k * nodesPerCell));
        cells[k] = rc;
    }
    plan.cells = std::move(cells);
    plan.sources = std::move(sources);
    plan.nodes = std::move(nodes);
}

}  // namespace

std::optional<RoutingPlan> buildRoutingPlan(const StudyGrid& grid, const RiverList& rivers,
                                            const std::vector<CellIndex>& order,
                                            const RainGrid& rain, const EventParameters& p,
                                            std::ostream& console) {
    const RoutingParameters routing{p.manningSlope, p.manningChannel, p.channelArea,
                                    p.spaceSteps,   p.timeStep,       p.weight};
    RoutingPlan plan;
    plan.scheme = WaveScheme::of(p.spaceSteps, p.timeStep, p.weight, exponentMOf(1.0));
    plan.subStepsPerHour = p.subStepsPerHour;
    plan.days = p.days;

    plan.frameTemplate.resize(grid.cells.size());
    for (CellIndex i = 0; i < static_cast<CellIndex>(grid.cells.size()); ++i) {
        const GridCell& cell = grid[i];
        const bool listed = cell.isEdge == 0 && rivers.isListedRiver(cell.riverNum);
        plan.frameTemplate[static_cast<std::size_t>(grid.filePosition(i))] =
            listed ? 0.0F : -9999.0F;
    }

    // Rank of every routed cell in the sequential order.
    std::vector<std::int32_t> rank(grid.cells.size(), -1);
    for (std::size_t k = 0; k < order.size(); ++k) {
        rank[static_cast<std::size_t>(order[k])] = static_cast<std::int32_t>(k);
    }

    const auto nodesPerCell = static_cast<std::size_t>(p.spaceSteps) + 1U;
    plan.cells.resize(order.size());
    plan.nodes.resize(order.size() * nodesPerCell);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const CellIndex index = order[k];
        const GridCell& cell = grid[index];
        const std::int32_t point = findNearestRainCell(cell.latSec, cell.lonSec, rain);
        if (point < 0) {
            sayLine(console, "No rainfall point of the input data lies near the cell at column ",
                    grid.columnOf(index) + 1, ", row ", grid.rows - grid.rowOf(index),
                    " (counted from 1 from the west and from the south).");
            return std::nullopt;
        }
        const GridCell* downstream = cell.downstream == kNoCell ? nullptr : &grid[cell.downstream];
        const RoutingSetup setup = setupRouting(cell, downstream, routing);
        setInitialDischarge(cell, setup, p.initialRunoff,
                            std::span(plan.nodes.data() + k * nodesPerCell, nodesPerCell));

        RoutedCell& rc = plan.cells[k];
        rc.wave = WaveCell::of(setup);
        rc.flowLength = setup.flowLength;
        rc.cellWidth = cell.cellWidth;
        rc.rainPoint = point;
        rc.framePosition = grid.filePosition(index);
        rc.firstSource = static_cast<std::int32_t>(plan.sources.size());
        rc.sourceCount = cell.upstreamCount;
        for (std::int32_t slot = 0; slot < cell.upstreamCount; ++slot) {
            const CellIndex up = cell.upstream[static_cast<std::size_t>(slot)];
            const std::int32_t upRank = rank[static_cast<std::size_t>(up)];
            // Only an upstream cell that runs earlier is read; any other contributes zero.
            if (upRank >= 0 && upRank < static_cast<std::int32_t>(k)) {
                plan.sources.push_back(upRank);
                plan.cells[static_cast<std::size_t>(upRank)].reader = static_cast<std::int32_t>(k);
                ++rc.readCount;
            } else {
                plan.sources.push_back(-1);
            }
        }
    }
    placeForLocality(plan);
    return plan;
}

}  // namespace hydro::runoff
