#pragma once

// The water balance of a run: per listed river and for all of them, the rain the routed cells
// took in, the water their channels held at the start and at the end, what came in from
// other rivers and what left, and the residual that the scheme itself made or lost; and per
// river the same for its whole catchment (the river and every river whose water reaches it).
// Every sum is exact (ExactVolume), so that the bytes do not depend on how the run was spread
// over threads or ranks.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "case/channel_width.h"
#include "routing/river_totals.h"
#include "routing/routing_engine.h"

namespace hydro::runoff {

/// Channel storage of a routed cell, m³: the flow area of nodes 1..N (each standing for the
/// reach of one space step upstream of it) under the scheme's rating curve, times the space
/// step. `nodes` holds the cell's N + 1 node states (RoutingEngine::nodeStates).
[[nodiscard]] double cellStorage(const RoutingPlan& plan, const RoutedCell& cell,
                                 std::span<const double> nodes);

/// Per river of a whole plan before its run: its cells and their initial storage.
[[nodiscard]] std::vector<RiverTotals> plannedTotals(const RoutingPlan& plan);

/// Per river of `plan` (a whole run's, or a part's) after `engine` ran it: the volumes of the
/// run and the final storage of its cells.
[[nodiscard]] std::vector<RiverTotals> finalTotals(const RoutingPlan& plan,
                                                   const RoutingEngine& engine);

/// Per river of a whole plan (index into RoutingPlan::riverNumbers): the indices of the other
/// rivers that its routed cells hand water to, ascending.
[[nodiscard]] std::vector<std::vector<std::int32_t>> riversDrainedInto(const RoutingPlan& plan);

/// The water of a river's catchment: the river and every listed river whose water reaches its
/// cells, m³. Nothing comes in from outside a catchment, so it has no inflow.
struct CatchmentWater {
    std::int64_t cells = 0;
    double rain = 0.0;
    double initialStorage = 0.0;
    double outflow = 0.0;  ///< out of the catchment's routed cells: leaving, or into other rivers
    double finalStorage = 0.0;
    double residual = 0.0;                    ///< the sum of its rivers' residuals
    std::optional<double> runoffCoefficient;  ///< outflow / rain; none without rain
};

/// One river's balance, or all rivers' (river -1), m³.
struct RiverWater {
    std::int32_t river = -1;
    std::int64_t cells = 0;
    double rain = 0.0;
    double initialStorage = 0.0;
    double inflow = 0.0;   ///< from the cells of other listed rivers
    double outflow = 0.0;  ///< out of the routed cells, or into another river's
    double finalStorage = 0.0;
    /// What the scheme made (positive: water that appeared) or lost: the water that came out
    /// or stayed, less the water that was there or came in (summed exactly, rounded once).
    double residual = 0.0;
    double toOtherRivers = 0.0;  ///< the part of the outflow that went into other rivers' cells
    /// outflow / (rain + inflow): the share of the water that came in that left; none when
    /// nothing came in.
    std::optional<double> runoffCoefficient;
    /// The numbers of the other rivers in its catchment, ascending (none in the total's row).
    std::vector<std::int32_t> upstreamRivers;
    /// The river's catchment; the total's is the whole run.
    CatchmentWater catchment;
};

/// Per river (numbers `riverNumbers`, the totals of the whole run and the rivers each one
/// drains into, `riversDrainedInto`, in the same order) in ascending number, then the total
/// (river -1); empty when a volume is not a finite number.
[[nodiscard]] std::vector<RiverWater> waterBalance(
    std::span<const std::int32_t> riverNumbers, std::span<const RiverTotals> totals,
    std::span<const std::vector<std::int32_t>> drainsInto);

/// The balance as CSV: a header, one row per river and one for the total ("all"); volumes in
/// m³ as shortest round-trip decimals, the residual also as a share of the rain and the
/// runoff coefficients (empty where they divide by zero), the upstream rivers separated by
/// spaces; then the catchment's columns. A channel width law other than the model's adds two
/// last columns that record it.
[[nodiscard]] std::string waterBalanceCsv(Scheme scheme, std::span<const RiverWater> rivers,
                                          const ChannelWidthLaw& width = {});

/// The file name in the output folder.
inline constexpr const char* kWaterBalanceName = "water_balance.csv";

}  // namespace hydro::runoff
