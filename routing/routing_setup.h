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

/// The part of `plan` (a whole plan, as buildRoutingPlan makes it) that the outflow of its
/// cells `watched` (plan cell indices) depends on: those cells and every cell they read,
/// directly or through others, in the plan's order, with the plan's initial state. Routed
/// alone, it gives those cells the very series the whole plan gives them; a cell it leaves out
/// keeps its frame template value.
[[nodiscard]] RoutingPlan upstreamPlan(const RoutingPlan& plan,
                                       std::span<const std::int32_t> watched);

}  // namespace hydro::runoff
