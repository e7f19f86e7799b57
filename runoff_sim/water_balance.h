#pragma once

// The water balance of a run: per listed river and for all of them, the rain the routed cells
// took in, the water their channels held at the start and at the end, what came in from
// other rivers and what left, and the residual that the scheme itself made or lost. The
// volumes are summed cell by cell in file order, so that the bytes do not depend on how the
// run was spread over threads or ranks.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "runoff_sim/routing_engine.h"

namespace hydro::runoff {

/// Channel storage of a routed cell, m³: the flow area of nodes 1..N (each standing for the
/// reach of one space step upstream of it) under the scheme's rating curve, times the space
/// step. `nodes` holds the cell's N + 1 node states (RoutingEngine::nodeStates).
[[nodiscard]] double cellStorage(const RoutingPlan& plan, const RoutedCell& cell,
                                 std::span<const double> nodes);

/// What the balance needs to know of a routed cell before the run.
struct BalanceCell {
    std::int64_t framePosition = 0;
    std::int32_t river = 0;
    /// The river of the cell that reads this one's outflow, or -1 when nobody does (the water
    /// leaves the routed cells).
    std::int32_t drainsInto = -1;
    double initialStorage = 0.0;  ///< m³
};

/// The balance cells of `plan` (a whole run's), in file order.
[[nodiscard]] std::vector<BalanceCell> planBalance(const RoutingPlan& plan);

/// A routed cell at the end of a run: its water since the start, and its storage.
struct CellWater {
    std::int64_t framePosition = 0;
    double rain = 0.0;     ///< m³
    double outflow = 0.0;  ///< m³
    double storage = 0.0;  ///< m³ at the end
};

/// The cells of an engine's plan after a run, appended to `out`; `positionOf(i)` gives the
/// frame position of plan cell i in the whole frame.
template <class PositionOf>
void collectCellWater(const RoutingPlan& plan, const RoutingEngine& engine,
                      const PositionOf& positionOf, std::vector<CellWater>& out) {
    const std::span<const CellVolumes> volumes = engine.cellVolumes();
    const std::span<const double> nodes = engine.nodeStates();
    const auto perCell = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
    for (std::size_t i = 0; i < plan.cells.size(); ++i) {
        out.push_back({positionOf(i), volumes[i].rain, volumes[i].outflow,
                       cellStorage(plan, plan.cells[i], nodes.subspan(i * perCell, perCell))});
    }
}

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
    /// or stayed, less the water that was there or came in.
    [[nodiscard]] double residual() const {
        return (outflow + finalStorage) - (initialStorage + rain + inflow);
    }
};

/// Per listed river in ascending number, then the total (river -1), from the cells' plan and
/// their water at the end (in any order; sorted here). The two must hold the same cells.
[[nodiscard]] std::vector<RiverWater> waterBalance(std::span<const BalanceCell> plan,
                                                   std::vector<CellWater> cells);

/// The balance as CSV: a header, one row per river and one for the total ("all"); volumes in
/// m³ as shortest round-trip decimals, the residual also as a share of the rain (empty without
/// rain).
[[nodiscard]] std::string waterBalanceCsv(Scheme scheme, std::span<const RiverWater> rivers);

/// The file name in the output folder.
inline constexpr const char* kWaterBalanceName = "water_balance.csv";

}  // namespace hydro::runoff
