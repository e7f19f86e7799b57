#include "tests/runoff_sim/sequential_reference.h"

#include <sstream>
#include <stdexcept>

#include "case/case.h"
#include "physics/kinematic_wave.h"
#include "routing/processing_order.h"
#include "routing/rain_cell.h"
#include "runoff_sim/discharge_output.h"

namespace hydro::test {

using namespace hydro::runoff;

ReferenceOutputs runSequentialReference(const std::filesystem::path& caseDir) {
    auto data = readCase(caseDir);
    if (!data) {
        throw std::runtime_error("reference: " + data.error().message);
    }
    const auto rain = readCaseRainfall(caseDir, data->params);
    if (!rain) {
        throw std::runtime_error("reference: " + rain.error().message);
    }
    const EventParameters* p = &data->params;
    const RiverList* rivers = &data->rivers;
    StudyGrid& grid = data->grid;

    const int S = p->subStepsPerHour;
    const std::size_t perCell =
        static_cast<std::size_t>(p->days) * 24U * static_cast<std::size_t>(S);
    const std::size_t nodes = static_cast<std::size_t>(p->spaceSteps) + 1U;
    const RoutingParameters routing{p->manningSlope, p->manningChannel, p->channelArea,
                                    p->spaceSteps,   p->timeStep,       p->weight,
                                    p->channelWidth};
    // Set-up pass: every river cell off the border gets its constants, profile and store.
    std::vector<RoutingSetup> setups(grid.cells.size());
    std::vector<std::vector<double>> q(grid.cells.size());
    std::vector<std::vector<float>> store(grid.cells.size());
    std::vector<std::int32_t> rainPoint(grid.cells.size(), -1);
    for (CellIndex i = 0; i < static_cast<CellIndex>(grid.cells.size()); ++i) {
        const GridCell& cell = grid[i];
        if (!cell.isRiverInterior()) {
            continue;
        }
        rainPoint[static_cast<std::size_t>(i)] =
            findNearestRainCell(cell.latSec, cell.lonSec, *rain);
        const GridCell* down = cell.downstream == kNoCell ? nullptr : &grid[cell.downstream];
        setups[static_cast<std::size_t>(i)] = setupRouting(cell, down, routing);
        q[static_cast<std::size_t>(i)].assign(nodes, 0.0);
        setInitialDischarge(cell, setups[static_cast<std::size_t>(i)], p->initialRunoff,
                            q[static_cast<std::size_t>(i)]);
        store[static_cast<std::size_t>(i)].assign(perCell, 0.0F);
    }

    const WaveScheme scheme =
        WaveScheme::of(p->spaceSteps, p->timeStep, p->weight, exponentMOf(1.0));
    for (std::int32_t cls : collectAccClasses(grid)) {
        for (CellIndex i = 0; i < static_cast<CellIndex>(grid.cells.size()); ++i) {
            const GridCell& cell = grid[i];
            if (cell.isEdge != 0 || !rivers->isListedRiver(cell.riverNum) || cell.flowAcc != cls) {
                continue;
            }
            const auto& setup = setups[static_cast<std::size_t>(i)];
            const WaveCell wave = WaveCell::of(setup);
            for (int day = 1; day <= p->days; ++day) {
                for (int hour = 1; hour <= 24; ++hour) {
                    LateralPair lat =
                        updateLateralInflow(*rain, rainPoint[static_cast<std::size_t>(i)], day,
                                            hour, cell.cellWidth, setup.flowLength);
                    for (int s = 0; s < S; ++s) {
                        const double qLat = (lat.prev + lat.now) * 0.5;
                        const std::size_t at = (static_cast<std::size_t>(day - 1) * 24U
                                                + static_cast<std::size_t>(hour - 1))
                                                   * static_cast<std::size_t>(S)
                                               + static_cast<std::size_t>(s);
                        double inflow = 0.0;
                        for (int u = 0; u < cell.upstreamCount; ++u) {
                            inflow += static_cast<double>(store[static_cast<std::size_t>(
                                cell.upstream[static_cast<std::size_t>(u)])][at]);
                        }
                        const double out = routeSubStep(scheme, wave, qLat, inflow,
                                                        q[static_cast<std::size_t>(i)]);
                        store[static_cast<std::size_t>(i)][at] = static_cast<float>(out);
                        lat.prev = lat.now;
                    }
                }
            }
        }
    }

    // Output: frames south row first, -9999 off the listed rivers and on the border.
    ReferenceOutputs out;
    const auto frameCell = [&](std::size_t k) {
        const auto row =
            static_cast<std::int32_t>(grid.rows - 1 - static_cast<std::int32_t>(k) / grid.cols);
        const auto col = static_cast<std::int32_t>(k) % grid.cols;
        return grid.index(row, col);
    };
    const std::size_t frame = grid.cells.size();
    for (int d = 0; d < p->days; ++d) {
        for (std::size_t k = 0; k < frame; ++k) {
            const CellIndex i = frameCell(k);
            const GridCell& cell = grid[i];
            if (cell.isEdge != 0 || !rivers->isListedRiver(cell.riverNum)) {
                out.daily.push_back(-9999.0F);
                out.dailyMax.push_back(-9999.0F);
                continue;
            }
            std::array<float, 24> means{};
            for (int h = 0; h < 24; ++h) {
                const auto* base =
                    store[static_cast<std::size_t>(i)].data()
                    + (static_cast<std::size_t>(d) * 24U + static_cast<std::size_t>(h))
                          * static_cast<std::size_t>(S);
                means[static_cast<std::size_t>(h)] =
                    hourlyMeanDischarge(std::span(base, static_cast<std::size_t>(S)));
            }
            out.daily.push_back(dailyMeanDischarge(means));
            out.dailyMax.push_back(dailyMaxHourlyDischarge(means));
        }
        for (int h = 0; h < 24; ++h) {
            for (std::size_t k = 0; k < frame; ++k) {
                const CellIndex i = frameCell(k);
                const GridCell& cell = grid[i];
                if (cell.isEdge != 0 || !rivers->isListedRiver(cell.riverNum)) {
                    out.hourly.push_back(-9999.0F);
                    continue;
                }
                const auto* base =
                    store[static_cast<std::size_t>(i)].data()
                    + (static_cast<std::size_t>(d) * 24U + static_cast<std::size_t>(h))
                          * static_cast<std::size_t>(S);
                out.hourly.push_back(
                    hourlyMeanDischarge(std::span(base, static_cast<std::size_t>(S))));
            }
        }
    }
    return out;
}

}  // namespace hydro::test
