#include "runoff_sim/basin_state.h"

#include <algorithm>
#include <numeric>
#include <string>

namespace hydro::runoff {

std::vector<std::int32_t> stateSlots(const RoutingPlan& plan) {
    std::vector<std::int32_t> byPosition(plan.cells.size());
    std::iota(byPosition.begin(), byPosition.end(), 0);
    std::sort(byPosition.begin(), byPosition.end(), [&](std::int32_t a, std::int32_t b) {
        return plan.cells[static_cast<std::size_t>(a)].framePosition
               < plan.cells[static_cast<std::size_t>(b)].framePosition;
    });
    std::vector<std::int32_t> slots(plan.cells.size());
    for (std::size_t at = 0; at < byPosition.size(); ++at) {
        slots[static_cast<std::size_t>(byPosition[at])] = static_cast<std::int32_t>(at);
    }
    return slots;
}

BasinState basinStateOf(const RoutingPlan& plan, const RoutingEngine& engine, std::int64_t hour,
                        std::vector<std::int32_t>& slots) {
    if (slots.size() != plan.cells.size()) {
        slots = stateSlots(plan);
    }
    const std::size_t per = static_cast<std::size_t>(plan.scheme.spaceSteps) + 2U;
    BasinState s;
    s.hour = hour;
    s.positions.resize(plan.cells.size());
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        s.positions[static_cast<std::size_t>(slots[c])] =
            static_cast<std::int32_t>(plan.cells[c].framePosition);
    }
    s.values.resize(plan.cells.size() * per);
    engine.stateValues(hour, s.values, slots);
    s.totals = engine.riverTotals();
    return s;
}

Status startFromState(const std::string& name, const RunState& state, RoutingPlan& plan) {
    const std::size_t nodes = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
    const std::size_t per = nodes + 1;
    if (state.valuesPerCell() != per) {
        return Error{name + " holds " + std::to_string(state.valuesPerCell() - 1)
                     + " node states per cell; this run has " + std::to_string(nodes) + "."};
    }
    std::vector<double> lateral(plan.cells.size());
    std::vector<bool> used(state.positions.size(), false);
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        const std::int64_t pos = plan.cells[c].framePosition;
        const auto it = std::lower_bound(state.positions.begin(), state.positions.end(), pos);
        if (it == state.positions.end() || *it != pos) {
            return Error{name + " holds no state of the routed cell at frame position "
                         + std::to_string(pos) + " (and maybe others)."};
        }
        const auto at = static_cast<std::size_t>(it - state.positions.begin());
        used[at] = true;
        std::copy_n(state.values.begin() + static_cast<std::ptrdiff_t>(at * per), nodes,
                    plan.initialNodes.begin() + static_cast<std::ptrdiff_t>(c * nodes));
        lateral[c] = state.values[at * per + nodes];
    }
    if (const auto unused = std::find(used.begin(), used.end(), false); unused != used.end()) {
        return Error{
            name + " holds a cell this run does not route (frame position "
            + std::to_string(state.positions[static_cast<std::size_t>(unused - used.begin())])
            + ")."};
    }
    plan.initialLateral = std::move(lateral);
    return success();
}

}  // namespace hydro::runoff
