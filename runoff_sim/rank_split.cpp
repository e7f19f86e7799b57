#include "runoff_sim/rank_split.h"

#include <algorithm>
#include <numeric>
#include <queue>

namespace hydro::runoff {

std::vector<std::size_t> treeEnds(const RoutingPlan& plan) {
    std::vector<std::size_t> ends;
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        if (plan.cells[c].reader < 0) {
            ends.push_back(c + 1);
        }
    }
    return ends;
}

std::vector<std::int32_t> assignBySize(std::span<const std::size_t> sizes, std::int32_t ranks) {
    std::vector<std::size_t> trees(sizes.size());
    std::iota(trees.begin(), trees.end(), std::size_t{0});
    std::stable_sort(trees.begin(), trees.end(),
                     [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
    // Least work first, then lowest rank.
    using Load = std::pair<std::size_t, std::int32_t>;
    std::priority_queue<Load, std::vector<Load>, std::greater<>> least;
    for (std::int32_t r = 0; r < ranks; ++r) {
        least.emplace(0, r);
    }
    std::vector<std::int32_t> rankOf(sizes.size(), 0);
    for (const std::size_t t : trees) {
        const auto [load, r] = least.top();
        least.pop();
        rankOf[t] = r;
        least.emplace(load + sizes[t], r);
    }
    return rankOf;
}

std::vector<std::int32_t> assignTrees(const RoutingPlan& plan, std::int32_t ranks) {
    const std::vector<std::size_t> ends = treeEnds(plan);
    std::vector<std::size_t> sizes(ends.size());
    for (std::size_t t = 0; t < ends.size(); ++t) {
        sizes[t] = ends[t] - (t == 0 ? 0 : ends[t - 1]);
    }
    const std::vector<std::int32_t> rankOf = assignBySize(sizes, ranks);
    std::vector<std::int32_t> owner(plan.cells.size(), 0);
    for (std::size_t t = 0; t < ends.size(); ++t) {
        std::fill(owner.begin() + static_cast<std::ptrdiff_t>(ends[t] - sizes[t]),
                  owner.begin() + static_cast<std::ptrdiff_t>(ends[t]), rankOf[t]);
    }
    return owner;
}

RankPart rankPart(const RoutingPlan& plan, std::span<const std::int32_t> owner, std::int32_t rank) {
    RankPart part;
    RoutingPlan& p = part.plan;
    p.scheme = plan.scheme;
    p.subStepsPerHour = plan.subStepsPerHour;
    p.days = plan.days;
    // Local index of each whole-plan cell of this rank. Trees are whole, so every cell a
    // part's cell reads, and its reader, belong to the same part.
    std::vector<std::int32_t> local(plan.cells.size(), -1);
    std::int32_t count = 0;
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        if (owner[c] == rank) {
            local[c] = count++;
        }
    }
    const auto nodesPerCell = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
    p.cells.reserve(static_cast<std::size_t>(count));
    p.initialNodes.reserve(static_cast<std::size_t>(count) * nodesPerCell);
    part.framePositions.reserve(static_cast<std::size_t>(count));
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        if (local[c] < 0) {
            continue;
        }
        RoutedCell rc = plan.cells[c];
        part.framePositions.push_back(rc.framePosition);
        rc.framePosition = local[c];
        rc.reader = rc.reader >= 0 ? local[static_cast<std::size_t>(rc.reader)] : -1;
        const auto first = static_cast<std::size_t>(rc.firstSource);
        rc.firstSource = static_cast<std::int32_t>(p.sources.size());
        for (std::int32_t slot = 0; slot < rc.sourceCount; ++slot) {
            const std::int32_t src = plan.sources[first + static_cast<std::size_t>(slot)];
            p.sources.push_back(src >= 0 ? local[static_cast<std::size_t>(src)] : -1);
        }
        p.cells.push_back(rc);
        const auto nodes =
            plan.initialNodes.begin() + static_cast<std::ptrdiff_t>(c * nodesPerCell);
        p.initialNodes.insert(p.initialNodes.end(), nodes,
                              nodes + static_cast<std::ptrdiff_t>(nodesPerCell));
    }
    p.frameTemplate.assign(static_cast<std::size_t>(count), 0.0F);
    return part;
}

void placeValues(std::span<const std::int64_t> framePositions, std::span<const float> values,
                 std::span<float> frame) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        frame[static_cast<std::size_t>(framePositions[i])] = values[i];
    }
}

double loadImbalance(std::span<const std::int32_t> owner, std::int32_t ranks) {
    if (owner.empty() || ranks <= 0) {
        return 0.0;
    }
    std::vector<std::size_t> load(static_cast<std::size_t>(ranks), 0);
    for (const std::int32_t r : owner) {
        ++load[static_cast<std::size_t>(r)];
    }
    const double average = static_cast<double>(owner.size()) / static_cast<double>(ranks);
    return static_cast<double>(*std::max_element(load.begin(), load.end())) / average;
}

}  // namespace hydro::runoff
