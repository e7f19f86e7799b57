#include "runoff_sim/simulation.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "common/console.h"
#include "common/file_transaction.h"
#include "runoff_sim/discharge_output.h"
#include "runoff_sim/processing_order.h"
#include "runoff_sim/routing_setup.h"

namespace hydro::runoff {

namespace {

constexpr int kFailure = 1;

/// What the stages hand on to the next ones; filled in the process that holds the case only
/// (elsewhere it keeps its empty values, which only feed lines that nobody sees).
struct CaseState {
    RunOptions options;
    EventParameters params{};
    std::int64_t riverCount = 0;
    RiverList rivers;
    RainGrid rain;
    std::optional<StudyGrid> network;
    RoutingPlan plan;
    std::vector<std::int32_t> riverNumbers;
    std::vector<RiverTotals> planned;  ///< cells and initial storage per river
    std::size_t classCount = 0;
};

/// Runs one stage of this process; a failed allocation is its failure.
template <class Stage>
Status guarded(const Stage& stage) {
    try {
        return stage();
    } catch (const std::bad_alloc&) {
        return Error{kNotEnoughMemory, ErrorKind::kOutOfMemory};
    }
}

/// A stage of the process that holds the case (the others have nothing to do), then the
/// verdict of every process on it.
template <class Stage>
Status onCase(Executor& executor, const Stage& stage) {
    return executor.agree(executor.holdsCase() ? guarded(stage) : success());
}

/// The weight the scheme of the run can take: the conservative scheme is implicit and stable
/// from 0.5 up.
Status checkScheme(const CasePaths& paths, const CaseState& s) {
    const double weight = s.params.weight;
    if (s.options.scheme != Scheme::kConservative || (weight >= 0.5 && weight <= 1.0)) {
        return success();
    }
    std::array<char, 32> text{};
    char* end = std::to_chars(text.data(), text.data() + text.size(), weight).ptr;
    return Error{paths.parameters().filename().string() + ": the conservative scheme needs a "
                 + "weight from 0.5 to 1, not " + std::string(text.data(), end) + "."};
}

/// read: the parameters echoed as they are read, then the number of rivers.
Status readParameters(const CasePaths& paths, std::ostream& console, Executor& executor,
                      CaseState& s) {
    Status status = onCase(executor, [&]() -> Status {
        auto params = readEventParameters(paths.parameters(), &console);
        if (!params) {
            return params.error();
        }
        s.params = *params;
        return checkScheme(paths, s);
    });
    if (!status) {
        return status;
    }
    return onCase(executor, [&]() -> Status {
        const auto count = countRiverLines(paths.riverList());
        if (!count) {
            return count.error();
        }
        s.riverCount = *count;
        return success();
    });
}

/// read and check: the river list, the rainfall points, the drainage network and its
/// elevations.
Status readBasin(const CasePaths& paths, CaseState& s) {
    auto rivers = readRiverList(paths.riverList(), s.riverCount);
    if (!rivers) {
        return rivers.error();
    }
    s.rivers = std::move(*rivers);
    if (const Status tooLarge = checkGridSize(s.params); !tooLarge) {
        return tooLarge.error();
    }
    if (const Status offTheGlobe = checkLatitudes(s.params); !offTheGlobe) {
        return offTheGlobe.error();
    }
    s.rain = placeRainPoints(s.params);
    auto network = buildDrainageNetwork(paths.topoData(), s.params);
    if (!network) {
        return network.error();
    }
    // A slope needs two finite elevations.
    if (const Status bad = checkElevationsFinite(*network, s.rivers); !bad) {
        return bad.error();
    }
    s.network = std::move(*network);
    return success();
}

/// plan: the set-up of every cell the time loop runs (a cell that never runs has nothing that
/// anyone reads: its outflow is zero and its output value fixed) and the accumulation classes.
/// The plan holds all that the time loop needs: the grid goes.
Status planRun(CaseState& s) {
    const std::vector<CellIndex> order = orderRoutedCells(*s.network, s.rivers);
    auto plan = buildRoutingPlan(*s.network, s.rivers, order, s.rain, s.params, s.options.scheme);
    if (!plan) {
        return plan.error();
    }
    s.plan = std::move(*plan);
    s.riverNumbers = s.plan.riverNumbers;
    s.planned = plannedTotals(s.plan);
    s.classCount = collectAccClasses(*s.network).size();
    s.network.reset();
    return success();
}

/// Everything before the time loop is readied, with the console lines between the stages.
Status readCase(const CasePaths& paths, std::ostream& console, Executor& executor, CaseState& s) {
    Status status = readParameters(paths, console, executor, s);
    if (!status) {
        return status;
    }
    sayLine(console, "Number of rivers for simulation : ", s.riverCount);
    sayLine(console);
    status = onCase(executor, [&] { return readBasin(paths, s); });
    if (!status) {
        return status;
    }
    status = onCase(executor, [&] { return planRun(s); });
    if (!status) {
        return status;
    }
    sayLine(console, "*** Number of different kind of cell accumulattion number : ", s.classCount);
    sayLine(console, "Total simulation time is ", s.params.days, " days.");
    sayLine(console);
    return onCase(executor, [&] { return readRainfall(paths.rainfall(), s.rain, &console); });
}

/// The progress lines of the time loop: one per accumulation class, paced by the cell-hours
/// of `cells` routed cells over `days` days.
ProgressPacer progressLines(std::ostream& console, std::int64_t classCount, std::size_t cells,
                            std::int32_t days) {
    // Cell-hours of the event (saturated: only the pacing of the lines depends on it).
    __extension__ using Wide = __int128;
    const Wide wideCellHours = static_cast<Wide>(cells) * days * 24;
    const std::int64_t cellHours = wideCellHours > std::numeric_limits<std::int64_t>::max()
                                       ? std::numeric_limits<std::int64_t>::max()
                                       : static_cast<std::int64_t>(wideCellHours);
    return {classCount, cellHours, [&console, classCount](std::int64_t k) {
                const double percent =
                    (static_cast<double>(k) + 1.0) / static_cast<double>(classCount) * 100.0;
                console.precision(3);
                console << "  " << percent << "% ends.\n" << std::flush;
            }};
}

/// How the time loop ended, as the line it leaves.
Status routed(RunStatus run, const DischargeFiles& files) {
    switch (run) {
        case RunStatus::kComplete:
            break;
        case RunStatus::kSinkRefused:
            return files.writeFailure();
        case RunStatus::kOutOfMemory:
            return Error{kNotEnoughMemory, ErrorKind::kOutOfMemory};
    }
    return success();
}

/// write: each grid closed after its line, then the VRT files.
Status closeFiles(std::ostream& console, DischargeFiles& files) {
    for (std::size_t f = 0; f < kOutputNames.size(); ++f) {
        sayLine(console, "Write ./output/", kOutputNames[f]);
        if (Status closed = files.closeGrid(f); !closed) {
            return closed;
        }
    }
    return files.writeDescriptions();
}

/// The water balance file of an earlier run, gone.
Status removeStaleBalance(const std::filesystem::path& outputDir) {
    const std::filesystem::path path = outputDir / kWaterBalanceName;
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error) {
        return Error{"./output/" + std::string(kWaterBalanceName) + " cannot be replaced ("
                     + error.message() + ")."};
    }
    return success();
}

/// write: the water balance of the run, gathered from every process, in place once complete.
Status writeBalance(const std::filesystem::path& outputDir, Executor& executor, CaseState& s) {
    Status status = executor.agree(guarded([&] { return executor.gatherWater(s.planned); }));
    if (!status) {
        return status;
    }
    return onCase(executor, [&]() -> Status {
        const std::vector<RiverWater> rivers = waterBalance(s.riverNumbers, s.planned);
        if (rivers.empty()) {
            // Volumes that are not numbers: the check of the grids that follows says why.
            return success();
        }
        FileTransaction files;
        const std::filesystem::path target = outputDir / kWaterBalanceName;
        if (Status written = files.write(target, waterBalanceCsv(s.options.scheme, rivers));
            !written) {
            return written;
        }
        return files.commit();
    });
}

/// check, route, write and report: the time loop and the output files.
Status runEvent(const CasePaths& paths, std::ostream& console, Executor& executor, CaseState& s) {
    // The run's own state is allocated before any output file is touched.
    ProgressPacer progress = progressLines(console, static_cast<std::int64_t>(s.classCount),
                                           s.plan.cells.size(), s.params.days);
    Status status = executor.agree(
        guarded([&] { return executor.prepare(std::move(s.plan), std::move(s.rain), progress); }));
    if (!status) {
        return status;
    }
    // Every output file must be creatable before hours of computing start.
    const auto outputDir = paths.output();
    status = onCase(executor, [&] { return checkOutputFiles(outputDir); });
    if (!status) {
        return status;
    }
    sayLine(console, "Runoff simulation starts.");
    DischargeFiles files;
    const EventParameters& p = s.params;
    status = onCase(executor, [&]() -> Status {
        // The balance of an earlier run no longer describes the grids once they are opened.
        if (Status gone = removeStaleBalance(outputDir); !gone) {
            return gone;
        }
        return files.open(outputDir, {p.studyCols, p.studyRows, p.swLon, p.swLat}, p.days);
    });
    if (!status) {
        return status;
    }

    // The time loop, with the progress lines paced by the cell-hours done. Its allocations
    // are the executor's own concern: every process returns the same status.
    progress.start();
    NonFiniteTally nonFinite;
    const FrameSink sink{[&](std::int32_t day, std::int32_t hour, std::span<const float> frame) {
                             nonFinite.addHour(day, hour, frame);
                             return files.writeHour(frame);
                         },
                         [&](std::int32_t, std::span<const float> mean,
                             std::span<const float> max) { return files.writeDay(mean, max); }};
    status = executor.agree(routed(executor.route(sink), files));
    if (!status) {
        return status;
    }
    progress.finish();
    sayLine(console);
    sayLine(console, "Runoff simulation ends.");

    // The frames are on disk: close and verify each file. The files hold what the arithmetic
    // gave; values that overflowed or went undefined are not a result to report as success.
    status = onCase(executor, [&] { return closeFiles(console, files); });
    if (!status) {
        return status;
    }
    status = writeBalance(outputDir, executor, s);
    if (!status) {
        return status;
    }
    return onCase(executor, [&] { return nonFinite.check(p.studyCols, p.weight); });
}

}  // namespace

int runSimulation(const CasePaths& paths, std::ostream& console, Executor& executor,
                  const RunOptions& options) {
    CaseState state;
    state.options = options;
    Status status = readCase(paths, console, executor, state);
    if (status) {
        status = runEvent(paths, console, executor, state);
    }
    if (!status) {
        sayLine(console, status.error().message);
        return kFailure;
    }
    return 0;
}

}  // namespace hydro::runoff
