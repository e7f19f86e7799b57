#include "runoff_sim/routing_setup.h"

#include "common/console.h"

namespace hydro::runoff {

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
    return plan;
}

}  // namespace hydro::runoff
