#pragma once

// The set-up pass: every cell the time loop runs gets its nearest rainfall point, its
// hydraulic constants and its initial discharge profile, gathered into the routing plan.

#include "case/event_parameters.h"
#include "case/grid_cell.h"
#include "case/river_list.h"
#include "common/result.h"
#include "routing/rain_cell.h"
#include "routing/routing_engine.h"

namespace hydro::runoff {

/// Builds the plan for the cells in `order` (the sequential order of the time loop), to be
/// stepped with `scheme`.
/// The error names a routed cell that no rainfall point lies near.
[[nodiscard]] Result<RoutingPlan> buildRoutingPlan(const StudyGrid& grid, const RiverList& rivers,
                                                   const std::vector<CellIndex>& order,
                                                   const RainGrid& rain, const EventParameters& p,
                                                   Scheme scheme = Scheme::kLinear);

/// Sets the hydraulic constants (rating curve, flow length, wave coefficients) and the initial
/// node states of every cell of `plan` (built by buildRoutingPlan from `grid`) from the
/// Manning values, the channel threshold and the initial runoff of `p`, exactly as
/// buildRoutingPlan does; the scheme settings of `p` must be those the plan was built with.
void setHydraulics(RoutingPlan& plan, const StudyGrid& grid, const EventParameters& p);

}  // namespace hydro::runoff
