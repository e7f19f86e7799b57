#include "routing/routing_setup.h"

#include <algorithm>
#include <string>

namespace hydro::runoff {

namespace {

/// Depth-first post-order of the reading forest (each cell after the cells it reads, roots and
/// slots in order): the order in which the time loop tends to take the cells, so that laid
/// out this way it walks its tables mostly forward in memory. `sourceOf(k, slot)` gives the
/// cell that slot `slot` of cell k reads, or -1.
template <class SourceOf>
std::vector<std::int32_t> readingPostOrder(const std::vector<std::int32_t>& reader,
                                           const std::vector<std::int32_t>& slotCount,
                                           SourceOf sourceOf) {
    const auto n = static_cast<std::int32_t>(reader.size());
    std::vector<std::int32_t> order;
    order.reserve(reader.size());
    std::vector<std::pair<std::int32_t, std::int32_t>> stack;  // cell, next slot to visit
    for (std::int32_t root = 0; root < n; ++root) {
        if (reader[static_cast<std::size_t>(root)] >= 0) {
            continue;
        }
        stack.emplace_back(root, 0);
        while (!stack.empty()) {
            const std::int32_t cell = stack.back().first;
            std::int32_t next = -1;
            while (stack.back().second < slotCount[static_cast<std::size_t>(cell)] && next < 0) {
                next = sourceOf(cell, stack.back().second++);
            }
            if (next >= 0) {
                stack.emplace_back(next, 0);
            } else {
                order.push_back(cell);
                stack.pop_back();
            }
        }
    }
    return order;
}

/// The listed rivers with routed cells, ascending, as the plan's river numbers.
void numberRivers(const StudyGrid& grid, const std::vector<CellIndex>& order, RoutingPlan& plan) {
    for (const CellIndex index : order) {
        plan.riverNumbers.push_back(grid[index].riverNum);
    }
    std::sort(plan.riverNumbers.begin(), plan.riverNumbers.end());
    plan.riverNumbers.erase(std::unique(plan.riverNumbers.begin(), plan.riverNumbers.end()),
                            plan.riverNumbers.end());
    plan.riverCount = static_cast<std::int32_t>(plan.riverNumbers.size());
}

/// The index of river `number` among the plan's river numbers.
std::int32_t riverIndex(const RoutingPlan& plan, std::int32_t number) {
    return static_cast<std::int32_t>(
        std::lower_bound(plan.riverNumbers.begin(), plan.riverNumbers.end(), number)
        - plan.riverNumbers.begin());
}

}  // namespace

void setHydraulics(RoutingPlan& plan, const StudyGrid& grid, const EventParameters& p) {
    const RoutingParameters routing = routingParametersOf(p);
    const auto nodesPerCell = static_cast<std::size_t>(p.spaceSteps) + 1U;
    plan.initialNodes.assign(plan.cells.size() * nodesPerCell, 0.0);
    for (std::size_t at = 0; at < plan.cells.size(); ++at) {
        const GridCell& cell = grid[plan.gridCells[at]];
        const GridCell* downstream = cell.downstream == kNoCell ? nullptr : &grid[cell.downstream];
        const RoutingSetup setup = setupRouting(cell, downstream, routing);
        const std::span<double> nodes(plan.initialNodes.data() + at * nodesPerCell, nodesPerCell);
        setInitialDischarge(cell, setup, p.initialRunoff, nodes);
        RoutedCell& rc = plan.cells[at];
        rc.wave = WaveCell::of(setup);
        rc.alpha = setup.alpha;
        rc.flowLength = setup.flowLength;
        if (plan.conservative()) {
            // The conservative scheme keeps u = A^(1/3) at nodes 1..N.
            const BoxCell box = BoxCell::of(plan.box, setup.dx, setup.alpha);
            for (std::size_t j = 1; j < nodes.size(); ++j) {
                nodes[j] = boxStateOf(box, nodes[j]);
            }
        }
    }
}

Result<RoutingPlan> buildRoutingPlan(const StudyGrid& grid, const RiverList& rivers,
                                     const std::vector<CellIndex>& order, const RainGrid& rain,
                                     const EventParameters& p, Scheme scheme) {
    RoutingPlan plan;
    plan.kind = scheme;
    plan.scheme = WaveScheme::of(p.spaceSteps, p.timeStep, p.weight, exponentMOf(1.0));
    plan.box = BoxScheme::of(plan.scheme.dt, p.weight);
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
    // A slot reads an upstream cell that the sequential order runs earlier; any other slot
    // contributes zero.
    const auto readRank = [&](std::int32_t k, std::int32_t slot) {
        const GridCell& cell = grid[order[static_cast<std::size_t>(k)]];
        const std::int32_t up =
            rank[static_cast<std::size_t>(cell.upstream[static_cast<std::size_t>(slot)])];
        return up >= 0 && up < k ? up : -1;
    };
    std::vector<std::int32_t> reader(order.size(), -1);
    std::vector<std::int32_t> slotCount(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const auto ki = static_cast<std::int32_t>(k);
        slotCount[k] = grid[order[k]].upstreamCount;
        for (std::int32_t slot = 0; slot < slotCount[k]; ++slot) {
            if (const std::int32_t up = readRank(ki, slot); up >= 0) {
                reader[static_cast<std::size_t>(up)] = ki;
            }
        }
    }
    const std::vector<std::int32_t> rankAt = readingPostOrder(reader, slotCount, readRank);
    std::vector<std::int32_t> position(order.size());
    for (std::size_t at = 0; at < rankAt.size(); ++at) {
        position[static_cast<std::size_t>(rankAt[at])] = static_cast<std::int32_t>(at);
    }

    numberRivers(grid, order, plan);
    const auto riverIndexOf = [&](std::int32_t number) { return riverIndex(plan, number); };

    plan.cells.resize(order.size());
    plan.gridCells.resize(order.size());
    for (std::size_t at = 0; at < rankAt.size(); ++at) {
        const std::int32_t k = rankAt[at];
        const CellIndex index = order[static_cast<std::size_t>(k)];
        const GridCell& cell = grid[index];
        const std::int32_t point = findNearestRainCell(cell.latSec, cell.lonSec, rain);
        if (point < 0) {
            return Error{"No rainfall point of the input data lies near the cell at "
                         + grid.explainedCellName(index) + "."};
        }
        plan.gridCells[at] = index;
        RoutedCell& rc = plan.cells[at];
        rc.river = riverIndexOf(cell.riverNum);
        rc.cellWidth = cell.cellWidth;
        rc.rainPoint = point;
        rc.framePosition = grid.filePosition(index);
        const std::int32_t r = reader[static_cast<std::size_t>(k)];
        rc.reader = r >= 0 ? position[static_cast<std::size_t>(r)] : -1;
        rc.drainsInto =
            r >= 0 ? riverIndexOf(grid[order[static_cast<std::size_t>(r)]].riverNum) : -1;
        rc.firstSource = static_cast<std::int32_t>(plan.sources.size());
        rc.sourceCount = cell.upstreamCount;
        for (std::int32_t slot = 0; slot < cell.upstreamCount; ++slot) {
            const std::int32_t up = readRank(k, slot);
            plan.sources.push_back(up >= 0 ? position[static_cast<std::size_t>(up)] : -1);
            rc.readCount += up >= 0 ? 1 : 0;
        }
    }
    setHydraulics(plan, grid, p);
    return plan;
}

RoutingPlan upstreamPlan(const RoutingPlan& plan, std::span<const std::int32_t> watched) {
    // Every cell a kept cell reads is kept; cells read come before their reader.
    std::vector<char> keep(plan.cells.size(), 0);
    std::vector<std::int32_t> stack(watched.begin(), watched.end());
    while (!stack.empty()) {
        const std::int32_t c = stack.back();
        stack.pop_back();
        if (keep[static_cast<std::size_t>(c)] != 0) {
            continue;
        }
        keep[static_cast<std::size_t>(c)] = 1;
        const RoutedCell& cell = plan.cells[static_cast<std::size_t>(c)];
        for (std::int32_t slot = 0; slot < cell.sourceCount; ++slot) {
            if (const std::int32_t up = plan.sourceOf(cell, slot); up >= 0) {
                stack.push_back(up);
            }
        }
    }
    std::vector<std::int32_t> newIndex(plan.cells.size(), -1);
    std::int32_t kept = 0;
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        if (keep[c] != 0) {
            newIndex[c] = kept++;
        }
    }
    RoutingPlan part;
    part.kind = plan.kind;
    part.scheme = plan.scheme;
    part.box = plan.box;
    part.riverNumbers = plan.riverNumbers;
    part.riverCount = plan.riverCount;
    part.subStepsPerHour = plan.subStepsPerHour;
    part.days = plan.days;
    part.frameTemplate = plan.frameTemplate;
    const std::size_t nodesPerCell =
        plan.cells.empty() ? 0 : plan.initialNodes.size() / plan.cells.size();
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        if (keep[c] == 0) {
            continue;
        }
        RoutedCell cell = plan.cells[c];
        cell.reader = cell.reader >= 0 ? newIndex[static_cast<std::size_t>(cell.reader)] : -1;
        cell.firstSource = static_cast<std::int32_t>(part.sources.size());
        for (std::int32_t slot = 0; slot < cell.sourceCount; ++slot) {
            const std::int32_t up = plan.sourceOf(plan.cells[c], slot);
            part.sources.push_back(up >= 0 ? newIndex[static_cast<std::size_t>(up)] : up);
        }
        part.cells.push_back(cell);
        if (!plan.gridCells.empty()) {
            part.gridCells.push_back(plan.gridCells[c]);
        }
        const auto first =
            plan.initialNodes.begin() + static_cast<std::ptrdiff_t>(c * nodesPerCell);
        part.initialNodes.insert(part.initialNodes.end(), first,
                                 first + static_cast<std::ptrdiff_t>(nodesPerCell));
        if (!plan.initialLateral.empty()) {
            part.initialLateral.push_back(plan.initialLateral[c]);
        }
    }
    return part;
}

}  // namespace hydro::runoff
