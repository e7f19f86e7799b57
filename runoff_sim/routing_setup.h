#pragma once

// The set-up pass: every cell the time loop runs gets its nearest rainfall point, its
// hydraulic constants and its initial discharge profile, gathered into the routing plan.

#include <optional>
#include <ostream>

#include "runoff_sim/event_parameters.h"
#include "runoff_sim/grid_cell.h"
#include "runoff_sim/rain_cell.h"
#include "runoff_sim/river_list.h"
#include "runoff_sim/routing_engine.h"

namespace hydro::runoff {

/// Builds the plan for the cells in `order` (the sequential order of the time loop).
/// Reports a routed cell that no rainfall point lies near and returns nothing then.
[[nodiscard]] std::optional<RoutingPlan> buildRoutingPlan(
    const StudyGrid& grid, const RiverList& rivers, const std::vector<CellIndex>& order,
    const RainGrid& rain, const EventParameters& p, std::ostream& console);

}  // namespace hydro::runoff
