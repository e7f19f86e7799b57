#include "case/state_check.h"

#include <algorithm>
#include <cmath>

#include "common/number_stream.h"

namespace hydro {

namespace {

/// The cell at frame position `position` as the user names it.
std::string cellName(const StateOrigin& o, std::int32_t position) {
    const GridShape shape{o.rows, o.columns};
    return shape.userCellName(shape.indexOfFilePosition(position));
}

/// "<count> <what>, the first at <cell>" or "one <what>, at <cell>".
std::string countedCells(std::size_t count, const char* one, const char* many,
                         const std::string& first) {
    if (count == 1) {
        return std::string("one ") + one + ", at " + first;
    }
    return std::to_string(count) + " " + many + ", the first at " + first;
}

/// The routed cells the state lacks and the cells it holds beyond them.
void cellMisfits(const std::string& name, const RunState& state,
                 std::span<const std::int32_t> routed, std::vector<std::string>& lines) {
    std::size_t missing = 0;
    std::int32_t firstMissing = 0;
    std::size_t extra = 0;
    std::int32_t firstExtra = 0;
    const std::vector<std::int32_t>& held = state.positions;
    std::size_t a = 0;
    std::size_t b = 0;
    while (a < routed.size() || b < held.size()) {
        if (b == held.size() || (a < routed.size() && routed[a] < held[b])) {
            firstMissing = missing++ == 0 ? routed[a] : firstMissing;
            ++a;
        } else if (a == routed.size() || held[b] < routed[a]) {
            firstExtra = extra++ == 0 ? held[b] : firstExtra;
            ++b;
        } else {
            ++a;
            ++b;
        }
    }
    if (missing > 0) {
        lines.push_back(name + " lacks "
                        + countedCells(missing, "cell the case routes", "cells the case routes",
                                       cellName(state.origin, firstMissing))
                        + ".");
    }
    if (extra > 0) {
        lines.push_back(name + " holds "
                        + countedCells(extra, "cell the case does not route",
                                       "cells the case does not route",
                                       cellName(state.origin, firstExtra))
                        + ".");
    }
}

/// Which value of a cell the `k`-th is: a node or the lateral inflow.
std::string valueName(const RunState& state, std::size_t k) {
    const std::size_t nodes = state.valuesPerCell() - 1;
    return k < nodes ? "node " + std::to_string(k) : std::string("lateral inflow");
}

/// Values that are not finite, and node states below zero.
void valueMisfits(const std::string& name, const RunState& state, std::vector<std::string>& lines) {
    const std::size_t perCell = state.valuesPerCell();
    std::size_t nonFinite = 0;
    std::size_t firstNonFinite = 0;
    std::size_t negative = 0;
    std::size_t firstNegative = 0;
    for (std::size_t i = 0; i < state.values.size(); ++i) {
        const double v = state.values[i];
        if (!std::isfinite(v)) {
            firstNonFinite = nonFinite++ == 0 ? i : firstNonFinite;
        } else if (v < 0.0 && i % perCell + 1 < perCell) {
            firstNegative = negative++ == 0 ? i : firstNegative;
        }
    }
    const auto where = [&](std::size_t i) {
        return cellName(state.origin, state.positions[i / perCell]) + " ("
               + valueName(state, i % perCell) + ")";
    };
    if (nonFinite > 0) {
        lines.push_back(name + " holds "
                        + countedCells(nonFinite, "value that is not finite",
                                       "values that are not finite", where(firstNonFinite))
                        + ".");
    }
    if (negative > 0) {
        const char* what = state.origin.scheme == 1 ? "node state" : "discharge";
        const std::string many = std::string(what) + "s below zero";
        const std::string one = std::string(what) + " below zero";
        lines.push_back(name + " holds "
                        + countedCells(negative, one.c_str(), many.c_str(), where(firstNegative))
                        + " (" + shortestText(state.values[firstNegative]) + ").");
    }
}

}  // namespace

std::vector<std::int32_t> routedPositions(const StudyGrid& grid, const RiverList& rivers) {
    std::vector<std::int32_t> positions;
    for (CellIndex i = 0; i < static_cast<CellIndex>(grid.cells.size()); ++i) {
        if (isRouted(grid[i], rivers)) {
            positions.push_back(static_cast<std::int32_t>(grid.filePosition(i)));
        }
    }
    std::sort(positions.begin(), positions.end());
    return positions;
}

std::vector<std::string> stateMisfits(const std::string& name, const RunState& state,
                                      const StateOrigin& run,
                                      std::span<const std::int32_t> routed) {
    std::vector<std::string> lines;
    if (const Status origin = checkStateOrigin(name, state.origin, run); !origin) {
        lines.push_back(origin.error().message);
    }
    if (state.origin.columns == run.columns && state.origin.rows == run.rows) {
        cellMisfits(name, state, routed, lines);
    }
    valueMisfits(name, state, lines);
    return lines;
}

Result<std::vector<std::string>> stateMisfitsInCase(const std::filesystem::path& root,
                                                    const CaseData& data, const std::string& name,
                                                    const RunState& state, std::uint32_t scheme) {
    const auto origin = stateOriginOf(CasePaths{root}, data.params, scheme);
    if (!origin) {
        return origin.error();
    }
    return stateMisfits(name, state, *origin, routedPositions(data.grid, data.rivers));
}

Result<StateCheck> checkStateAgainstCase(const std::filesystem::path& root,
                                         const std::filesystem::path& statePath,
                                         std::optional<std::uint32_t> scheme,
                                         std::optional<ChannelWidthLaw> channelWidth) {
    auto state = readState(statePath);
    if (!state) {
        return state.error();
    }
    auto data = readCase(root);
    if (!data) {
        return data.error();
    }
    StateCheck check;
    check.scheme = scheme.value_or(state->origin.scheme);
    data->params.channelWidth = channelWidth.value_or(state->origin.channelWidth);
    auto misfits =
        stateMisfitsInCase(root, *data, statePath.filename().string(), *state, check.scheme);
    if (!misfits) {
        return misfits.error();
    }
    check.misfits = std::move(*misfits);
    check.state = std::move(*state);
    check.data = std::move(*data);
    return check;
}

}  // namespace hydro
