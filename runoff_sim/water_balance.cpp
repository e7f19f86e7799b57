#include "runoff_sim/water_balance.h"

#include <algorithm>
#include <utility>

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

std::vector<std::vector<std::int32_t>> riversDrainedInto(const RoutingPlan& plan) {
    std::vector<std::vector<std::int32_t>> into(static_cast<std::size_t>(plan.riverCount));
    for (const RoutedCell& rc : plan.cells) {
        if (rc.drainsInto >= 0 && rc.drainsInto != rc.river) {
            into[static_cast<std::size_t>(rc.river)].push_back(rc.drainsInto);
        }
    }
    for (std::vector<std::int32_t>& rivers : into) {
        std::sort(rivers.begin(), rivers.end());
        rivers.erase(std::unique(rivers.begin(), rivers.end()), rivers.end());
    }
    return into;
}

namespace {

/// `part` over `whole`; none when `whole` is not positive.
std::optional<double> shareOf(const ExactVolume& part, const ExactVolume& whole) {
    return whole.m3() > 0.0 ? std::optional<double>(part.m3() / whole.m3()) : std::nullopt;
}

/// What came out or stayed, less what was there or came in.
ExactVolume residualOf(const RiverTotals& t, const ExactVolume& outflow,
                       const ExactVolume& inflow) {
    ExactVolume residual = outflow;
    residual.add(t.finalStorage);
    residual.subtract(t.initialStorage);
    residual.subtract(t.rain);
    residual.subtract(inflow);
    return residual;
}

/// The balance of the rivers that `t` sums, whose outflow is `outflow`, with no inflow.
CatchmentWater catchmentOf(const RiverTotals& t, const ExactVolume& outflow) {
    return {t.cells,
            t.rain.m3(),
            t.initialStorage.m3(),
            outflow.m3(),
            t.finalStorage.m3(),
            residualOf(t, outflow, ExactVolume{}).m3(),
            shareOf(outflow, t.rain)};
}

/// The row of `t`, whose water came in as rain and `inflow` and went out as `outflow`.
RiverWater rowOf(std::int32_t river, const RiverTotals& t, const ExactVolume& outflow,
                 const ExactVolume& inflow) {
    RiverWater row;
    row.river = river;
    row.cells = t.cells;
    row.rain = t.rain.m3();
    row.initialStorage = t.initialStorage.m3();
    row.inflow = inflow.m3();
    row.outflow = outflow.m3();
    row.finalStorage = t.finalStorage.m3();
    row.residual = residualOf(t, outflow, inflow).m3();
    ExactVolume cameIn = t.rain;
    cameIn.add(inflow);
    row.runoffCoefficient = shareOf(outflow, cameIn);
    return row;
}

bool finite(const RiverTotals& t) {
    return t.rain.finite() && t.leaving.finite() && t.toOtherRivers.finite() && t.inflow.finite()
           && t.initialStorage.finite() && t.finalStorage.finite();
}

/// Per river: the indices of the rivers whose water reaches it, itself included, ascending.
std::vector<std::vector<std::int32_t>> catchmentMembers(
    std::size_t rivers, std::span<const std::vector<std::int32_t>> drainsInto) {
    std::vector<std::vector<std::int32_t>> upstream(rivers);
    for (std::size_t r = 0; r < drainsInto.size() && r < rivers; ++r) {
        for (const std::int32_t into : drainsInto[r]) {
            if (into >= 0 && static_cast<std::size_t>(into) < rivers) {
                upstream[static_cast<std::size_t>(into)].push_back(static_cast<std::int32_t>(r));
            }
        }
    }
    std::vector<std::vector<std::int32_t>> members(rivers);
    std::vector<std::size_t> seenBy(rivers, rivers);
    for (std::size_t r = 0; r < rivers; ++r) {
        std::vector<std::int32_t>& found = members[r];
        found.push_back(static_cast<std::int32_t>(r));
        seenBy[r] = r;
        for (std::size_t next = 0; next < found.size(); ++next) {
            for (const std::int32_t up : upstream[static_cast<std::size_t>(found[next])]) {
                if (seenBy[static_cast<std::size_t>(up)] != r) {
                    seenBy[static_cast<std::size_t>(up)] = r;
                    found.push_back(up);
                }
            }
        }
        std::sort(found.begin(), found.end());
    }
    return members;
}

/// The catchment of the rivers `members`: their sums, and as outflow what left their cells
/// or went into rivers outside them. A catchment holds every river that drains into one of
/// its rivers, so all of their inflow came from each other and cancels.
CatchmentWater catchmentOf(std::span<const std::int32_t> members,
                           std::span<const RiverTotals> totals) {
    RiverTotals sum;
    for (const std::int32_t m : members) {
        sum.add(totals[static_cast<std::size_t>(m)]);
    }
    ExactVolume outflow = sum.leaving;
    outflow.add(sum.toOtherRivers);
    outflow.subtract(sum.inflow);
    return catchmentOf(sum, outflow);
}

}  // namespace

std::vector<RiverWater> waterBalance(std::span<const std::int32_t> riverNumbers,
                                     std::span<const RiverTotals> totals,
                                     std::span<const std::vector<std::int32_t>> drainsInto) {
    std::vector<RiverWater> rows;
    RiverTotals all;
    const std::vector<std::vector<std::int32_t>> members =
        catchmentMembers(totals.size(), drainsInto);
    for (std::size_t r = 0; r < totals.size(); ++r) {
        const RiverTotals& t = totals[r];
        if (!finite(t)) {
            return {};
        }
        ExactVolume outflow = t.leaving;
        outflow.add(t.toOtherRivers);
        RiverWater row = rowOf(riverNumbers[r], t, outflow, t.inflow);
        row.toOtherRivers = t.toOtherRivers.m3();
        for (const std::int32_t m : members[r]) {
            if (static_cast<std::size_t>(m) != r) {
                row.upstreamRivers.push_back(riverNumbers[static_cast<std::size_t>(m)]);
            }
        }
        row.catchment = catchmentOf(members[r], totals);
        rows.push_back(std::move(row));
        all.add(t);
    }
    // Between the rivers the water only changes hands: all of them give off what leaves.
    RiverWater total = rowOf(-1, all, all.leaving, ExactVolume{});
    total.catchment = catchmentOf(all, all.leaving);
    rows.push_back(std::move(total));
    return rows;
}

namespace {

void appendNumber(std::string& out, double value) {
    out += ',';
    out += shortestText(value);
}

void appendOptional(std::string& out, const std::optional<double>& value) {
    out += ',';
    if (value) {
        out += shortestText(*value);
    }
}

/// The residual over the rain, as the table gives it: none without rain.
std::optional<double> residualShare(double residual, double rain) {
    return rain > 0.0 ? std::optional<double>(residual / rain) : std::nullopt;
}

/// The columns after the residual's share: the river's own, then its catchment's.
void appendCatchment(std::string& out, const RiverWater& r) {
    appendNumber(out, r.toOtherRivers);
    appendOptional(out, r.runoffCoefficient);
    out += ',';
    for (std::size_t k = 0; k < r.upstreamRivers.size(); ++k) {
        out += k == 0 ? "" : " ";
        out += std::to_string(r.upstreamRivers[k]);
    }
    const CatchmentWater& c = r.catchment;
    out += ',';
    out += std::to_string(c.cells);
    for (const double v : {c.rain, c.initialStorage, c.outflow, c.finalStorage, c.residual}) {
        appendNumber(out, v);
    }
    appendOptional(out, residualShare(c.residual, c.rain));
    appendOptional(out, c.runoffCoefficient);
}

}  // namespace

std::string waterBalanceCsv(Scheme scheme, std::span<const RiverWater> rivers,
                            const ChannelWidthLaw& width) {
    std::string out =
        "scheme,river,cells,rain_m3,initial_storage_m3,inflow_m3,outflow_m3,final_storage_m3,"
        "residual_m3,residual_share,to_other_rivers_m3,runoff_coefficient,upstream_rivers,"
        "catchment_cells,catchment_rain_m3,catchment_initial_storage_m3,catchment_outflow_m3,"
        "catchment_final_storage_m3,catchment_residual_m3,catchment_residual_share,"
        "catchment_runoff_coefficient";
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
            appendNumber(out, v);
        }
        appendOptional(out, residualShare(r.residual, r.rain));
        appendCatchment(out, r);
        out += widthCells;
        out += '\n';
    }
    return out;
}

}  // namespace hydro::runoff
