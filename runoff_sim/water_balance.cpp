#include "runoff_sim/water_balance.h"

#include "case/channel_width.h"
#include "common/number_stream.h"
#include "physics/cell_storage.h"

namespace hydro::runoff {

double cellStorage(const RoutingPlan& plan, const RoutedCell& cell, std::span<const double> nodes) {
    return runoff::cellStorage(plan.conservative(), cell.wave.dx, cell.alpha, nodes);
}

std::vector<RiverTotals> plannedTotals(const RoutingPlan& plan) {
    const auto perCell = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
    const std::span<const double> nodes(plan.initialNodes);
    std::vector<RiverTotals> totals(static_cast<std::size_t>(plan.riverCount));
    for (std::size_t i = 0; i < plan.cells.size(); ++i) {
        const RoutedCell& rc = plan.cells[i];
        RiverTotals& t = totals[static_cast<std::size_t>(rc.river)];
        ++t.cells;
        t.initialStorage.add(cellStorage(plan, rc, nodes.subspan(i * perCell, perCell)));
    }
    return totals;
}

std::vector<RiverTotals> finalTotals(const RoutingPlan& plan, const RoutingEngine& engine) {
    const auto perCell = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
    const std::span<const double> nodes = engine.nodeStates();
    std::vector<RiverTotals> totals = engine.riverTotals();
    for (std::size_t i = 0; i < plan.cells.size(); ++i) {
        const RoutedCell& rc = plan.cells[i];
        totals[static_cast<std::size_t>(rc.river)].finalStorage.add(
            cellStorage(plan, rc, nodes.subspan(i * perCell, perCell)));
    }
    return totals;
}

namespace {

/// The row of `t`: the water that came out or stayed, less what was there or came in.
RiverWater rowOf(std::int32_t river, const RiverTotals& t, const ExactVolume& outflow,
                 const ExactVolume& inflow) {
    ExactVolume residual = outflow;
    residual.add(t.finalStorage);
    residual.subtract(t.initialStorage);
    residual.subtract(t.rain);
    residual.subtract(inflow);
    return {river,       t.cells,      t.rain.m3(),         t.initialStorage.m3(),
            inflow.m3(), outflow.m3(), t.finalStorage.m3(), residual.m3()};
}

bool finite(const RiverTotals& t) {
    return t.rain.finite() && t.leaving.finite() && t.toOtherRivers.finite() && t.inflow.finite()
           && t.initialStorage.finite() && t.finalStorage.finite();
}

}  // namespace

std::vector<RiverWater> waterBalance(std::span<const std::int32_t> riverNumbers,
                                     std::span<const RiverTotals> totals) {
    std::vector<RiverWater> rows;
    RiverTotals all;
    for (std::size_t r = 0; r < totals.size(); ++r) {
        const RiverTotals& t = totals[r];
        if (!finite(t)) {
            return {};
        }
        ExactVolume outflow = t.leaving;
        outflow.add(t.toOtherRivers);
        rows.push_back(rowOf(riverNumbers[r], t, outflow, t.inflow));
        all.add(t);
    }
    // Between the rivers the water only changes hands: all of them give off what leaves.
    rows.push_back(rowOf(-1, all, all.leaving, ExactVolume{}));
    return rows;
}

namespace {

void appendNumber(std::string& out, double value) {
    out += shortestText(value);
}

}  // namespace

std::string waterBalanceCsv(Scheme scheme, std::span<const RiverWater> rivers,
                            const ChannelWidthLaw& width) {
    std::string out =
        "scheme,river,cells,rain_m3,initial_storage_m3,inflow_m3,outflow_m3,final_storage_m3,"
        "residual_m3,residual_share";
    const std::string widthCells = width.isModel() ? "" : "," + channelWidthValue(width);
    out += width.isModel() ? "\n" : ",channel_width_coefficient_m,channel_width_exponent\n";
    for (const RiverWater& r : rivers) {
        out += schemeName(scheme);
        out += ',';
        out += r.river >= 0 ? std::to_string(r.river) : std::string("all");
        out += ',';
        out += std::to_string(r.cells);
        for (const double v :
             {r.rain, r.initialStorage, r.inflow, r.outflow, r.finalStorage, r.residual}) {
            out += ',';
            appendNumber(out, v);
        }
        out += ',';
        if (r.rain > 0.0) {
            appendNumber(out, r.residual / r.rain);
        }
        out += widthCells;
        out += '\n';
    }
    return out;
}

}  // namespace hydro::runoff
