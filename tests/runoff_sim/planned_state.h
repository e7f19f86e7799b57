#pragma once

// The state a run of a small case starts from, built from the simulator's own routing plan:
// its cells in ascending frame position with their initial node states. The tools that hold a
// state against a case are tested on it, so that they agree with the plan on which cells a
// state holds.

#include <cstdint>
#include <filesystem>
#include <optional>

#include "case/run_state.h"
#include "routing/routing_engine.h"

namespace hydro::test {

struct PlannedState {
    RunState state;
    runoff::RoutingPlan plan;
};

/// The plan of the case written in `dir` (river list and rain as the case holds them) under
/// `scheme` and its state at `time`: every routed cell's initial nodes and a lateral inflow
/// of 1e-6 * (k + 1) m²/s for the k-th cell in frame order. Records a test failure and
/// returns nothing when the case cannot be planned.
[[nodiscard]] std::optional<PlannedState> plannedState(const std::filesystem::path& dir,
                                                       runoff::Scheme scheme,
                                                       std::int64_t time = 1666069200);

}  // namespace hydro::test
