#include "runoff_sim/driver.h"

#include <limits>

#include "case/case.h"
#include "common/console.h"
#include "runoff_sim/discharge_output.h"
#include "runoff_sim/processing_order.h"
#include "runoff_sim/rain_cell.h"
#include "runoff_sim/routing_engine.h"
#include "runoff_sim/routing_setup.h"

namespace hydro::runoff {

namespace {

constexpr int kFailure = 1;

/// Prints the line of a stage that failed; returns the exit status.
int fail(std::ostream& console, const Error& error) {
    sayLine(console, error.message);
    return kFailure;
}

}  // namespace

int runRunoffSim(const std::filesystem::path& caseDir, std::ostream& console) {
    const CasePaths paths{caseDir};
    // 1. Parameters.
    const auto params = readEventParameters(paths.parameters(), &console);
    if (!params) {
        return fail(console, params.error());
    }
    const EventParameters& p = *params;

    // 2. River count; 3. river list.
    const auto riverCount = countRiverLines(paths.riverList());
    if (!riverCount) {
        return fail(console, riverCount.error());
    }
    sayLine(console, "Number of rivers for simulation : ", *riverCount);
    sayLine(console);
    const auto rivers = readRiverList(paths.riverList(), *riverCount);
    if (!rivers) {
        return fail(console, rivers.error());
    }

    // 5. Rainfall grid with its points placed.
    if (const auto tooLarge = gridSizeProblem(p)) {
        return fail(console, *tooLarge);
    }
    if (const auto offTheGlobe = latitudeProblem(p)) {
        return fail(console, *offTheGlobe);
    }
    RainGrid rain = placeRainPoints(p);

    // 4. Study grid; 6. elevation pass; 7. topology pass; 8. registration; 9. counting.
    auto network = buildDrainageNetwork(paths.topoData(), p);
    if (!network) {
        return fail(console, network.error());
    }
    // A slope needs two finite elevations.
    if (const auto bad = nonFiniteElevation(*network, *rivers)) {
        return fail(console, *bad);
    }

    // 10. Set-up of every cell the time loop will run (a cell that never runs has nothing
    // that anyone reads: its outflow is zero and its output value fixed).
    const std::vector<CellIndex> order = orderRoutedCells(*network, *rivers);
    auto plan = buildRoutingPlan(*network, *rivers, order, rain, p);
    if (!plan) {
        return fail(console, plan.error());
    }

    // 11. Processing order.
    const std::vector<std::int32_t> classes = collectAccClasses(*network);
    sayLine(console,
            "*** Number of different kind of cell accumulattion number : ", classes.size());
    // The plan holds all that the time loop needs: the grid goes.
    network->cells = std::vector<GridCell>();

    // 12.
    sayLine(console, "Total simulation time is ", p.days, " days.");
    sayLine(console);

    // 13. Rainfall.
    if (const auto read = readRainfall(paths.rainfall(), rain, &console); !read) {
        return fail(console, read.error());
    }

    // 14. Every output file must be creatable before hours of computing start.
    const auto outputDir = paths.output();
    if (!checkOutputFiles(outputDir, console)) {
        return kFailure;
    }
    sayLine(console, "Runoff simulation starts.");
    DischargeFiles files;
    if (!files.open(outputDir, {p.studyCols, p.studyRows, p.swLon, p.swLat}, p.days, console)) {
        return kFailure;
    }

    // 15. Time loop, with the progress lines paced by the cell-hours done.
    const auto classCount = static_cast<std::int64_t>(classes.size());
    // Cell-hours of the event (saturated: only the pacing of the lines depends on it).
    __extension__ using Wide = __int128;
    const Wide wideCellHours = static_cast<Wide>(plan->cells.size()) * p.days * 24;
    const std::int64_t cellHours = wideCellHours > std::numeric_limits<std::int64_t>::max()
                                       ? std::numeric_limits<std::int64_t>::max()
                                       : static_cast<std::int64_t>(wideCellHours);
    ProgressPacer progress(classCount, cellHours, [&](std::int64_t k) {
        const double percent =
            (static_cast<double>(k) + 1.0) / static_cast<double>(classCount) * 100.0;
        console.precision(3);
        console << "  " << percent << "% ends.\n" << std::flush;
    });
    progress.start();
    const FrameSink sink{[&](std::int32_t, std::int32_t, std::span<const float> frame) {
                             return files.writeHour(frame);
                         },
                         [&](std::int32_t, std::span<const float> mean,
                             std::span<const float> max) { return files.writeDay(mean, max); }};
    if (!runTimeLoop(*plan, rain, progress, sink)) {
        files.reportFailure(console);
        return kFailure;
    }
    progress.finish();

    // 16.
    sayLine(console);
    sayLine(console, "Runoff simulation ends.");

    // 17. Output: the frames are on disk; close and verify each file.
    if (!files.finish(console)) {
        return kFailure;
    }
    return 0;
}

}  // namespace hydro::runoff
