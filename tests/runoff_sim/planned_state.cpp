#include "tests/runoff_sim/planned_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "case/case.h"
#include "routing/processing_order.h"
#include "routing/routing_setup.h"

namespace hydro::test {

std::optional<PlannedState> plannedState(const std::filesystem::path& dir, runoff::Scheme scheme,
                                         std::int64_t time) {
    auto data = readCase(dir);
    if (!data) {
        ADD_FAILURE() << data.error().message;
        return std::nullopt;
    }
    auto rain = readCaseRainfall(dir, data->params);
    if (!rain) {
        ADD_FAILURE() << rain.error().message;
        return std::nullopt;
    }
    auto plan = runoff::buildRoutingPlan(data->grid, data->rivers,
                                         runoff::orderRoutedCells(data->grid, data->rivers), *rain,
                                         data->params, scheme);
    if (!plan) {
        ADD_FAILURE() << plan.error().message;
        return std::nullopt;
    }
    const std::uint32_t schemeValue = scheme == runoff::Scheme::kConservative ? 1U : 0U;
    auto origin = stateOriginOf(CasePaths{dir}, data->params, schemeValue);
    if (!origin) {
        ADD_FAILURE() << origin.error().message;
        return std::nullopt;
    }
    PlannedState out{RunState{}, std::move(*plan)};
    RunState& s = out.state;
    s.origin = *origin;
    s.time = time;
    const auto& cells = out.plan.cells;
    std::vector<std::size_t> order(cells.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return cells[a].framePosition < cells[b].framePosition;
    });
    const auto nodes = static_cast<std::size_t>(data->params.spaceSteps) + 1U;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        s.positions.push_back(static_cast<std::int32_t>(cells[i].framePosition));
        const auto first = out.plan.initialNodes.begin() + static_cast<std::ptrdiff_t>(i * nodes);
        s.values.insert(s.values.end(), first, first + static_cast<std::ptrdiff_t>(nodes));
        s.values.push_back(1e-6 * static_cast<double>(k + 1));
    }
    return out;
}

}  // namespace hydro::test
