#pragma once

// States of the basin: made from a routing engine at the end of an hour, kept in files (the
// case library's run states) and put back into a plan to go on from.

#include <cstdint>
#include <span>
#include <vector>

#include "case/run_state.h"
#include "common/result.h"
#include "routing/routing_engine.h"
#include "runoff_sim/simulation.h"

namespace hydro::runoff {

/// Each routed cell's place among the cells of `plan` sorted by frame position.
[[nodiscard]] std::vector<std::int32_t> stateSlots(const RoutingPlan& plan);

/// The state of `engine` (running `plan`) at the end of event hour `hour`; `slots` is filled
/// with stateSlots(plan) when empty.
[[nodiscard]] BasinState basinStateOf(const RoutingPlan& plan, const RoutingEngine& engine,
                                      std::int64_t hour, std::vector<std::int32_t>& slots);

/// Puts the cell values of `state` (read from the file named `name`) into `plan` as its
/// initial node states and the lateral inflow of the hour before. The error names a routed
/// cell of the plan that the state does not hold, or a cell of the state the plan does not
/// route.
[[nodiscard]] Status startFromState(const std::string& name, const RunState& state,
                                    RoutingPlan& plan);

}  // namespace hydro::runoff
