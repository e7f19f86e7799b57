#include "runoff_sim/water_balance.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <stdexcept>

namespace hydro::runoff {

double cellStorage(const RoutingPlan& plan, const RoutedCell& cell, std::span<const double> nodes) {
    double total = 0.0;
    if (plan.conservative()) {
        for (std::size_t j = 1; j < nodes.size(); ++j) {
            total += boxAreaOf(nodes[j]) * cell.box.dx;
        }
        return total;
    }
    const double inverseM = 1.0 / exponentMOf(1.0);
    for (std::size_t j = 1; j < nodes.size(); ++j) {
        const double q = nodes[j];
        if (q > 0.0) {
            total += std::pow(q / cell.alpha, inverseM) * cell.wave.dx;
        }
    }
    return total;
}

std::vector<BalanceCell> planBalance(const RoutingPlan& plan) {
    const auto perCell = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
    const std::span<const double> nodes(plan.initialNodes);
    std::vector<BalanceCell> cells;
    cells.reserve(plan.cells.size());
    for (std::size_t i = 0; i < plan.cells.size(); ++i) {
        const RoutedCell& rc = plan.cells[i];
        const std::int32_t into =
            rc.reader >= 0 ? plan.cells[static_cast<std::size_t>(rc.reader)].river : -1;
        cells.push_back({rc.framePosition, rc.river, into,
                         cellStorage(plan, rc, nodes.subspan(i * perCell, perCell))});
    }
    std::sort(cells.begin(), cells.end(), [](const BalanceCell& a, const BalanceCell& b) {
        return a.framePosition < b.framePosition;
    });
    return cells;
}

std::vector<RiverWater> waterBalance(std::span<const BalanceCell> plan,
                                     std::vector<CellWater> cells) {
    std::sort(cells.begin(), cells.end(), [](const CellWater& a, const CellWater& b) {
        return a.framePosition < b.framePosition;
    });
    if (cells.size() != plan.size()) {
        throw std::logic_error("the water balance got another set of cells than planned");
    }
    std::map<std::int32_t, RiverWater> rivers;
    RiverWater all;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const BalanceCell& b = plan[i];
        const CellWater& w = cells[i];
        if (w.framePosition != b.framePosition) {
            throw std::logic_error("the water balance got another set of cells than planned");
        }
        RiverWater& r = rivers[b.river];
        r.river = b.river;
        ++r.cells;
        r.rain += w.rain;
        r.initialStorage += b.initialStorage;
        r.finalStorage += w.storage;
        if (b.drainsInto != b.river) {
            r.outflow += w.outflow;
        }
        if (b.drainsInto >= 0 && b.drainsInto != b.river) {
            rivers[b.drainsInto].inflow += w.outflow;
        }
        ++all.cells;
        all.rain += w.rain;
        all.initialStorage += b.initialStorage;
        all.finalStorage += w.storage;
        if (b.drainsInto < 0) {
            all.outflow += w.outflow;
        }
    }
    std::vector<RiverWater> out;
    out.reserve(rivers.size() + 1);
    for (const auto& [number, r] : rivers) {
        out.push_back(r);
    }
    out.push_back(all);
    return out;
}

namespace {

void appendNumber(std::string& out, double value) {
    char text[32];
    const auto end = std::to_chars(std::begin(text), std::end(text), value).ptr;
    out.append(text, end);
}

}  // namespace

std::string waterBalanceCsv(Scheme scheme, std::span<const RiverWater> rivers) {
    std::string out =
        "scheme,river,cells,rain_m3,initial_storage_m3,inflow_m3,outflow_m3,final_storage_m3,"
        "residual_m3,residual_share\n";
    for (const RiverWater& r : rivers) {
        out += schemeName(scheme);
        out += ',';
        out += r.river >= 0 ? std::to_string(r.river) : std::string("all");
        out += ',';
        out += std::to_string(r.cells);
        for (const double v :
             {r.rain, r.initialStorage, r.inflow, r.outflow, r.finalStorage, r.residual()}) {
            out += ',';
            appendNumber(out, v);
        }
        out += ',';
        if (r.rain > 0.0) {
            appendNumber(out, r.residual() / r.rain);
        }
        out += '\n';
    }
    return out;
}

}  // namespace hydro::runoff
