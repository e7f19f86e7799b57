#include "make_case/case_check.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "case/case_folder.h"
#include "case/state_check.h"
#include "common/console.h"
#include "make_case/case_input.h"
#include "physics/kinematic_wave.h"

namespace hydro::make_case {

namespace {

namespace fs = std::filesystem;

class Findings {
public:
    explicit Findings(std::ostream& out) : out_(out) {}
    template <class... Parts>
    void error(const Parts&... parts) {
        ++summary_.errors;
        sayLine(out_, "error: ", parts...);
    }
    template <class... Parts>
    void warning(const Parts&... parts) {
        ++summary_.warnings;
        sayLine(out_, "warning: ", parts...);
    }
    [[nodiscard]] CheckSummary summary() const { return summary_; }

private:
    std::ostream& out_;
    CheckSummary summary_;
};

struct Grids {
    std::vector<float> elevation;
    std::vector<std::int32_t> flowDir;
    std::vector<std::int32_t> flowAcc;
    std::vector<std::int32_t> riverNum;
};

/// The study grid of the parameters.
GridShape shapeOf(const EventParameters& p) {
    return GridShape{p.studyRows, p.studyCols};
}

/// Cells are named as discharge_series numbers them: column from the west, row from the
/// south, both from 1.
std::string nameOf(const GridShape& shape, std::size_t cell) {
    return shape.userCellName(static_cast<CellIndex>(cell));
}

/// The cell a code leads to, or -1 for 0, codes outside 1..8 and steps off the grid.
std::int64_t downstreamOf(const GridShape& shape, std::int32_t code, std::size_t cell) {
    if (code < 1 || code > 8) {
        return -1;
    }
    const auto i = static_cast<CellIndex>(cell);
    const D8Offset& step = kD8Offsets[static_cast<std::size_t>(code)];
    const std::int32_t row = shape.rowOf(i) + step.row;
    const std::int32_t col = shape.columnOf(i) + step.column;
    if (!shape.contains(row, col)) {
        return -1;
    }
    return shape.index(row, col);
}

bool isBorder(const GridShape& shape, std::size_t cell) {
    return shape.isBorder(static_cast<CellIndex>(cell));
}

bool readGrids(const fs::path& caseDir, const EventParameters& p, Grids& g, Findings& f) {
    const auto needed =
        static_cast<std::uint64_t>(p.studyCols) * static_cast<std::uint64_t>(p.studyRows);
    bool ok = true;
    const auto sized = [&](const char* name, auto result, auto& into) {
        if (!result.ok()) {
            f.error(result.error().message);
            ok = false;
            return;
        }
        if ((*result).valuesInFile != needed) {
            f.error(name, " holds ", (*result).valuesInFile,
                    " values, but the study grid of "
                    "param-event.dat (",
                    p.studyCols, " x ", p.studyRows, ") needs ", needed, ".");
            ok = false;
        }
        into = std::move((*result).values);
    };
    sized("modDem.bin", readCaseFloatGrid(caseDir, "modDem.bin", p), g.elevation);
    sized("flowDir.bin", readCaseIntGrid(caseDir, "flowDir.bin", p), g.flowDir);
    sized("flowAcc.bin", readCaseIntGrid(caseDir, "flowAcc.bin", p), g.flowAcc);
    sized("riverNum.bin", readCaseIntGrid(caseDir, "riverNum.bin", p), g.riverNum);
    return ok;
}

/// Codes the simulator cannot follow on the cells it reads.
void checkCodes(const GridShape& shape, const Grids& g, const std::vector<std::int32_t>& rivers,
                Findings& f) {
    const auto listed = [&](std::int32_t r) {
        return r >= 0 && std::binary_search(rivers.begin(), rivers.end(), r);
    };
    std::size_t badCodes = 0;
    std::size_t firstBad = 0;
    std::size_t pits = 0;
    std::size_t firstPit = 0;
    for (std::size_t i = 0; i < g.flowDir.size(); ++i) {
        if (g.riverNum[i] < 0) {
            continue;
        }
        if (g.flowDir[i] < 0 || g.flowDir[i] > 8) {
            firstBad = badCodes++ == 0 ? i : firstBad;
        } else if (g.flowDir[i] == 0 && !isBorder(shape, i) && listed(g.riverNum[i])) {
            firstPit = pits++ == 0 ? i : firstPit;
        } else if (!isBorder(shape, i) && downstreamOf(shape, g.flowDir[i], i) < 0) {
            f.error("flowDir.bin: the cell at ", nameOf(shape, i),
                    " is off the border but its code points off the grid.");
        }
    }
    if (badCodes > 0) {
        f.error("flowDir.bin: ", badCodes, " river cells have codes outside 0 to 8, the first ",
                g.flowDir[firstBad], " at ", nameOf(shape, firstBad), ".");
    }
    if (pits > 0) {
        f.warning("flowDir.bin: ", pits, " simulated cells drain nowhere (code 0), the first at ",
                  nameOf(shape, firstPit), "; their water leaves the basin there.");
    }
}

/// Loops: follows every path, marking cells on the current path and cells known to end.
/// Returns true when a loop runs through river cells, which makes their order, inflows and
/// accumulation meaningless; one among cells outside every river is never read.
bool checkLoops(const GridShape& shape, const Grids& g, Findings& f) {
    const std::size_t n = g.flowDir.size();
    const auto next = [&](std::int64_t c) {
        return downstreamOf(shape, g.flowDir[static_cast<std::size_t>(c)],
                            static_cast<std::size_t>(c));
    };
    std::vector<std::uint8_t> state(n, 0);  // 0 unseen, 1 on the path being walked, 2 ends
    std::vector<std::size_t> path;
    bool loop = false;
    bool riverLoopSeen = false;
    bool otherLoopSeen = false;
    for (std::size_t start = 0; start < n; ++start) {
        path.clear();
        auto c = static_cast<std::int64_t>(start);
        while (c >= 0 && state[static_cast<std::size_t>(c)] == 0) {
            state[static_cast<std::size_t>(c)] = 1;
            path.push_back(static_cast<std::size_t>(c));
            c = next(c);
        }
        if (c >= 0 && state[static_cast<std::size_t>(c)] == 1) {
            bool onRiver = false;
            std::int64_t k = c;
            do {
                onRiver = onRiver || g.riverNum[static_cast<std::size_t>(k)] >= 0;
                k = next(k);
            } while (k != c);
            if (onRiver && !riverLoopSeen) {
                riverLoopSeen = true;
                f.error("flowDir.bin has a flow loop through the cell at ",
                        nameOf(shape, static_cast<std::size_t>(c)), ".");
            } else if (!onRiver && !otherLoopSeen) {
                otherLoopSeen = true;
                f.warning("flowDir.bin has a flow loop outside every river, through the cell at ",
                          nameOf(shape, static_cast<std::size_t>(c)), ".");
            }
            loop = loop || onRiver;
        }
        for (const std::size_t k : path) {
            state[k] = 2;
        }
    }
    return loop;
}

/// Inflows the simulator registers: river cells off the border with a downstream cell.
void checkInflows(const GridShape& shape, const Grids& g, Findings& f) {
    const std::size_t n = g.flowDir.size();
    std::vector<std::uint8_t> inflows(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t d = downstreamOf(shape, g.flowDir[i], i);
        if (d >= 0 && g.riverNum[i] >= 0 && !isBorder(shape, i)) {
            ++inflows[static_cast<std::size_t>(d)];
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (inflows[i] > 7 && g.riverNum[i] >= 0) {
            f.error("flowDir.bin: ", static_cast<int>(inflows[i]), " cells drain into the cell at ",
                    nameOf(shape, i), "; the simulator takes at most 7 and drops the rest.");
        }
    }
}

/// Flow accumulation against a recount from the directions, itself included (no loops).
void checkAccumulation(const GridShape& shape, const Grids& g, Findings& f) {
    const std::size_t n = g.flowDir.size();
    std::vector<std::int32_t> recount(n, 1);
    std::vector<std::uint8_t> pending(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t d = downstreamOf(shape, g.flowDir[i], i);
        if (d >= 0) {
            ++pending[static_cast<std::size_t>(d)];
        }
    }
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < n; ++i) {
        if (pending[i] == 0) {
            ready.push_back(i);
        }
    }
    while (!ready.empty()) {
        const std::size_t i = ready.back();
        ready.pop_back();
        const std::int64_t d = downstreamOf(shape, g.flowDir[i], i);
        if (d >= 0) {
            const auto j = static_cast<std::size_t>(d);
            recount[j] += recount[i];
            if (--pending[j] == 0) {
                ready.push_back(j);
            }
        }
    }
    std::size_t wrong = 0;
    std::size_t firstWrong = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (g.riverNum[i] >= 0 && g.flowAcc[i] != recount[i]) {
            firstWrong = wrong++ == 0 ? i : firstWrong;
        }
    }
    if (wrong > 0) {
        f.error("flowAcc.bin disagrees with the flow directions on ", wrong,
                " river cells, the first at ", nameOf(shape, firstWrong), ": ",
                g.flowAcc[firstWrong], " where the directions give ", recount[firstWrong], ".");
    }
}

/// Elevations of the river cells, and listed rivers without cells.
void checkElevationsAndRivers(const GridShape& shape, const Grids& g,
                              const std::vector<std::int32_t>& rivers, Findings& f) {
    std::size_t nonFinite = 0;
    std::size_t firstNonFinite = 0;
    for (std::size_t i = 0; i < g.riverNum.size(); ++i) {
        if (g.riverNum[i] >= 0 && !std::isfinite(g.elevation[i])) {
            firstNonFinite = nonFinite++ == 0 ? i : firstNonFinite;
        }
    }
    if (nonFinite > 0) {
        f.error("modDem.bin: ", nonFinite, " river cells have no finite elevation, the first at ",
                nameOf(shape, firstNonFinite), ".");
    }
    for (const std::int32_t r : rivers) {
        if (std::find(g.riverNum.begin(), g.riverNum.end(), r) == g.riverNum.end()) {
            f.error("riverNumList.dat lists river ", r, ", which has no cell in riverNum.bin.");
        }
    }
}

/// Codes, loops, inflows, accumulation and elevations, in that order.
void checkNetwork(const EventParameters& p, const Grids& g, const std::vector<std::int32_t>& rivers,
                  Findings& f) {
    const GridShape shape = shapeOf(p);
    checkCodes(shape, g, rivers, f);
    const bool loop = checkLoops(shape, g, f);
    checkInflows(shape, g, f);
    if (!loop) {
        checkAccumulation(shape, g, f);
    }
    checkElevationsAndRivers(shape, g, rivers, f);
}

/// Cells the time loop runs: river cells off the border on a listed river.
std::vector<std::size_t> simulatedCells(const EventParameters& p, const Grids& g,
                                        const std::vector<std::int32_t>& rivers) {
    std::vector<std::size_t> cells;
    for (std::size_t i = 0; i < g.riverNum.size(); ++i) {
        if (g.riverNum[i] >= 0 && !isBorder(shapeOf(p), i)
            && std::binary_search(rivers.begin(), rivers.end(), g.riverNum[i])) {
            cells.push_back(i);
        }
    }
    return cells;
}

GridCell cellOf(const EventParameters& p, const Grids& g, std::size_t i) {
    GridCell cell;
    const GridShape shape = shapeOf(p);
    const auto index = static_cast<CellIndex>(i);
    cell.initGeometry(shape.rowOf(index), shape.columnOf(index), p.studyRows, p.studyCols, p.swLat,
                      p.swLon, g.elevation[i]);
    cell.flowDir = g.flowDir[i];
    cell.flowAcc = g.flowAcc[i];
    cell.riverNum = g.riverNum[i];
    return cell;
}

/// Coverage and size of the rain; returns the heaviest intensity of the event, mm/hr.
float checkRain(const fs::path& caseDir, const EventParameters& p, const Grids& g,
                const std::vector<std::size_t>& simulated, Findings& f) {
    const GridShape shape = shapeOf(p);
    const auto name = [&](std::size_t cell) { return nameOf(shape, cell); };
    const RainGrid points = caseRainPoints(p);
    std::size_t uncovered = 0;
    std::size_t firstUncovered = 0;
    for (const std::size_t i : simulated) {
        const GridCell cell = cellOf(p, g, i);
        const std::int32_t k = findNearestRainCell(cell.latSec, cell.lonSec, points);
        if (k < 0) {
            f.error("No rainfall point of param-event.dat lies near the cell at ", name(i), ".");
            return 0.0F;
        }
        const RainCell& pt = points.points[static_cast<std::size_t>(k)];
        const double dLat =
            std::abs(static_cast<double>(cell.latSec) / 3600.0 - static_cast<double>(pt.latDeg));
        const double dLon =
            std::abs(static_cast<double>(cell.lonSec) / 3600.0 - static_cast<double>(pt.lonDeg));
        if (dLat > static_cast<double>(p.rainDy) || dLon > static_cast<double>(p.rainDx)) {
            firstUncovered = uncovered++ == 0 ? i : firstUncovered;
        }
    }
    if (uncovered > 0) {
        f.warning("the rain grid does not cover ", uncovered,
                  " simulated cells (their nearest "
                  "rain point is more than one rain spacing away), the first at ",
                  name(firstUncovered), ".");
    }

    const auto rain = readCaseRain(caseDir, p);
    if (!rain.ok()) {
        f.error(rain.error().message);
        return 0.0F;
    }
    const std::uint64_t needed =
        static_cast<std::uint64_t>(p.days) * 24U
        * (6U + static_cast<std::uint64_t>(p.rainCols) * static_cast<std::uint64_t>(p.rainRows));
    if ((*rain).numbersInFile > needed) {
        f.warning("rain.dat holds ", (*rain).numbersInFile, " numbers, but ", p.days,
                  " days on a rain grid of ", p.rainCols, " x ", p.rainRows, " read only ", needed,
                  "; it was probably written for another grid.");
    }
    float peak = 0.0F;
    for (const float v : (*rain).grid.rain) {
        peak = std::max(peak, v);
    }
    return peak;
}

/// The largest Courant number of a channel cell under the heaviest rain of the event falling
/// on its whole upstream area.
void checkCourant(const EventParameters& p, const Grids& g,
                  const std::vector<std::size_t>& simulated, float peakRain, Findings& f) {
    const runoff::RoutingParameters rp = runoff::routingParametersOf(p);
    const double intensity = std::max(static_cast<double>(peakRain), p.initialRunoff);
    double worst = 0.0;
    std::size_t worstCell = 0;
    double worstQ = 0.0;
    for (const std::size_t i : simulated) {
        if (g.flowAcc[i] <= p.channelArea) {
            continue;
        }
        const GridCell cell = cellOf(p, g, i);
        const std::int64_t d = downstreamOf(shapeOf(p), cell.flowDir, i);
        GridCell below;
        if (d >= 0) {
            below = cellOf(p, g, static_cast<std::size_t>(d));
        }
        const runoff::RoutingSetup s = runoff::setupRouting(cell, d >= 0 ? &below : nullptr, rp);
        const double q = intensity * 0.001 / 3600.0 * g.flowAcc[i] * kCellHeight
                         * static_cast<double>(cell.cellWidth);
        const double c = runoff::celerityOf(s, q);
        const double courant = c * p.timeStep / s.dx;
        if (courant > worst) {
            worst = courant;
            worstCell = i;
            worstQ = q;
        }
    }
    if (worst > 1.0) {
        f.warning("with the weight ", p.weight,
                  " below 0.5 the explicit scheme needs a Courant "
                  "number of at most 1, but the channel cell at ",
                  nameOf(shapeOf(p), worstCell), " reaches ", worst, " at ", worstQ, " m3/s (",
                  intensity,
                  " mm/hr on its whole upstream area); shorten the time "
                  "step or raise the weight.");
    }
}

/// The linear scheme's volume error on a basin, as a share of the rain, against its space steps:
/// 0.57 N^-0.75 fits the bundled basin (48, 31, 20, 10, 5.9 and 3.3 % at 1, 2, 4, 10, 20 and
/// 40 space steps) within a few points and hardly depends on the weight or the time step
/// (docs/model.md).
double linearVolumeError(std::int32_t spaceSteps) {
    return 0.57 * std::pow(static_cast<double>(spaceSteps), -0.75);
}

/// Space steps at which the linear scheme's volume error stays below a tenth.
constexpr std::int32_t kFewSpaceSteps = 10;

void checkVolumeError(const EventParameters& p, Findings& f) {
    if (p.spaceSteps > kFewSpaceSteps) {
        return;
    }
    const auto percent = static_cast<long>(std::lround(linearVolumeError(p.spaceSteps) * 100.0));
    f.warning("with ", p.spaceSteps, " space steps runoff_sim's default linear scheme makes about ",
              percent,
              " % more water than falls; run runoff_sim --scheme conservative (it keeps water "
              "exactly), or use more than ",
              kFewSpaceSteps, " space steps.");
}

/// The state against the case: a state that cannot be read, or every way it does not fit;
/// its time and cells when it fits. A case that cannot be read has had its lines already.
void checkState(const fs::path& caseDir, const StateToCheck& request,
                const std::optional<ChannelWidthLaw>& channelWidth, Findings& f,
                std::ostream& out) {
    const auto state = readState(request.file);
    if (!state) {
        f.error(state.error().message);
        return;
    }
    auto data = readCase(caseDir);
    if (!data) {
        if (f.summary().errors == 0) {
            f.error(data.error().message);
        }
        return;
    }
    data->params.channelWidth = channelWidth.value_or(state->origin.channelWidth);
    const std::string name = request.file.filename().string();
    const auto misfits = stateMisfitsInCase(caseDir, *data, name, *state,
                                            request.scheme.value_or(state->origin.scheme));
    if (!misfits) {
        f.error(misfits.error().message);
        return;
    }
    for (const std::string& line : *misfits) {
        f.error(line);
    }
    if (misfits->empty()) {
        sayLine(out, name, " fits the case: the ", stateSchemeName(state->origin.scheme),
                " scheme's state at ", stateTimeText(state->time), ", ", state->positions.size(),
                state->positions.size() == 1 ? " cell." : " cells.");
    }
}

}  // namespace

CheckSummary checkCase(const fs::path& caseDir, std::ostream& out,
                       const std::optional<StateToCheck>& state,
                       const std::optional<ChannelWidthLaw>& channelWidth) {
    Findings f(out);
    if (const Status folder = checkCaseFolder(caseDir); !folder) {
        f.error(folder.error().message);
    } else {
        // The programs never create folders: the simulator writes into output/, the maps go
        // into output/image/.
        for (const fs::path& dir : {caseDir / "output", caseDir / "output" / "image"}) {
            if (const Status there = checkOutputFolder(dir); !there) {
                f.error(there.error().message);
                break;
            }
        }
    }
    const auto params = readCaseParameters(caseDir);
    if (!params.ok()) {
        f.error(params.error().message);
    }
    const auto rivers = readCaseRivers(caseDir);
    if (!rivers.ok()) {
        f.error(rivers.error().message);
    }
    if (params.ok()) {
        EventParameters p = *params;
        p.channelWidth = channelWidth.value_or(ChannelWidthLaw{});
        Grids g;
        if (readGrids(caseDir, p, g, f) && rivers.ok()) {
            checkNetwork(p, g, (*rivers), f);
            const std::vector<std::size_t> simulated = simulatedCells(p, g, (*rivers));
            const float peak = checkRain(caseDir, p, g, simulated, f);
            if (p.weight < 0.5) {
                checkCourant(p, g, simulated, peak, f);
            }
        }
        checkVolumeError(p, f);
        if (3600 % p.timeStep != 0) {
            f.warning("the time step of ", p.timeStep, " s does not divide 3600: each hour runs ",
                      p.subStepsPerHour, " steps, ", p.subStepsPerHour * p.timeStep, " s.");
        }
    }
    if (state) {
        checkState(caseDir, *state, channelWidth, f, out);
    }
    const CheckSummary s = f.summary();
    const char* verdict = nullptr;
    if (state) {
        verdict = s.errors > 0 ? "runoff_sim would fail on this case or refuse this state."
                               : "the case is ready for runoff_sim to go on from this state.";
    } else {
        verdict = s.errors > 0 ? "runoff_sim would fail or produce garbage on this case."
                               : "the case is ready for runoff_sim.";
    }
    sayLine(out, s.errors, s.errors == 1 ? " error, " : " errors, ", s.warnings,
            s.warnings == 1 ? " warning: " : " warnings: ", verdict);
    return s;
}

}  // namespace hydro::make_case
