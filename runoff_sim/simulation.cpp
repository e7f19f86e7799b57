#include "runoff_sim/simulation.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "common/console.h"
#include "common/file_transaction.h"
#include "common/number_stream.h"
#include "routing/processing_order.h"
#include "routing/routing_setup.h"
#include "runoff_sim/basin_state.h"
#include "runoff_sim/discharge_output.h"
#include "runoff_sim/run_states.h"

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
    /// Per river: the rivers it hands water to (riversDrainedInto), for the catchments' balance.
    std::vector<std::vector<std::int32_t>> drainsInto;
    /// Per river: cells and initial storage, and for a resumed run what went before.
    std::vector<RiverTotals> planned;
    std::size_t classCount = 0;
    // States: what they share, where the run starts, and its own files beside the grids.
    StateContext states;
    RouteStart start;
    NonFiniteTally earlierNonFinite;
    std::vector<std::string> stateLines;  ///< said before the run starts
    Status stateFailure = success();
    FileTransaction outputs;  ///< the final state and the water balance, committed together
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
    return Error{paths.parameters().filename().string() + ": the conservative scheme needs a "
                 + "weight from 0.5 to 1, not " + shortestText(weight) + "."};
}

/// The line of a run that starts from a state instead of the initial runoff.
std::string warmStartLine(const RunOptions& o) {
    return "Warm start from " + o.warmStart.filename().string()
           + ": the initial runoff of param-event.dat is not used.";
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
        s.params.channelWidth = s.options.channelWidth;
        return checkScheme(paths, s);
    });
    if (!status) {
        return status;
    }
    if (!s.options.warmStart.empty() && s.options.resume.empty()) {
        sayLine(console, warmStartLine(s.options));
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
    s.drainsInto = riversDrainedInto(s.plan);
    s.planned = plannedTotals(s.plan);
    s.classCount = collectAccClasses(*s.network).size();
    s.network.reset();
    return success();
}

/// The interrupted run to go on with: its newest state that the grids hold every frame of.
Status settleResume(const CasePaths& paths, CaseState& s) {
    StateContext& run = s.states;
    const std::filesystem::path& dir = s.options.resume;
    const std::size_t frameValues = s.plan.frameTemplate.size();
    std::vector<std::string> passedOver;
    auto found = findResumeState(dir, run, hoursOnDisk(paths.output(), frameValues), passedOver);
    if (!found) {
        return found.error();
    }
    for (const std::string& name : passedOver) {
        s.stateLines.push_back("Passed over " + name + ": it cannot be read or is damaged.");
    }
    if (!*found) {
        s.stateLines.push_back("No state to resume in " + dir.string()
                               + ": the run starts from the beginning.");
        if (!s.options.warmStart.empty()) {
            s.stateLines.push_back(warmStartLine(s.options));
        }
        return success();
    }
    const ResumePoint& point = **found;
    const std::string name = point.file.filename().string();
    const StateRun& r = point.state.run;
    if (Status put = startFromState(name, point.state, s.plan); !put) {
        return put;
    }
    auto totals = totalsOfState(name, point.state, s.riverNumbers);
    if (!totals) {
        return totals.error();
    }
    s.planned = std::move(*totals);
    auto frames = dayFramesOnDisk(paths.output(), frameValues, r.hoursRun);
    if (!frames) {
        return frames.error();
    }
    s.start.dayFrames = std::move(*frames);
    s.start.schedule.firstHour = r.hoursRun;
    if (!s.options.writeState.empty()
        && r.hoursRun == static_cast<std::int64_t>(s.params.days) * 24) {
        // The run was complete but for its last files: its last state is the final one.
        if (Status put = writeState(s.outputs, s.options.writeState, point.state); !put) {
            return put;
        }
    }
    s.earlierNonFinite.restore(r.nonFiniteCount, r.firstNonFinitePosition, r.firstNonFiniteDay,
                               r.firstNonFiniteHour);
    if (s.options.stateEvery == 0) {
        run.every = r.stateEvery;
        run.keep = s.options.keepStates > 0 ? s.options.keepStates : r.keepStates;
    }
    s.stateLines.push_back("Resuming from " + name + ": hours 1 to " + std::to_string(r.hoursRun)
                           + " of " + std::to_string(s.params.days * 24) + " are done.");
    return success();
}

/// Where the run's states come from and go: the warm start or the state to resume from put into
/// the plan, all checked before any output file is touched.
Status settleStates(const CasePaths& paths, CaseState& s) {
    const RunOptions& o = s.options;
    if (o.writeState.empty() && o.stateEvery == 0 && o.warmStart.empty() && o.resume.empty()) {
        return success();
    }
    StateContext& run = s.states;
    auto origin = stateOriginOf(paths, s.params, o.scheme == Scheme::kConservative ? 1U : 0U);
    if (!origin) {
        return origin.error();
    }
    run.origin = *origin;
    auto start = readEventStart(paths.rainfall());
    if (!start) {
        return start.error();
    }
    if (start->fallback) {
        return Error{
            "rain.dat: the first block header is not a valid date, which a run with "
            "states needs as the event's start."};
    }
    run.eventStart = start->unixSeconds();
    run.days = s.params.days;
    auto rain = sha256OfFile(paths.rainfall());
    if (!rain) {
        return rain.error();
    }
    run.rain = *rain;
    run.dir = o.stateEvery > 0 ? o.stateDir : o.resume;
    run.every = o.stateEvery;
    run.keep = o.keepStates;
    if (!o.resume.empty()) {
        if (Status resumed = settleResume(paths, s); !resumed) {
            return resumed;
        }
    }
    // (A resumed run, past its first hour, starts from its own state instead.)
    if (!o.warmStart.empty() && s.start.schedule.firstHour == 0) {
        auto state = readWarmStart(o.warmStart, run);
        if (!state) {
            return state.error();
        }
        if (Status put = startFromState(o.warmStart.filename().string(), *state, s.plan); !put) {
            return put;
        }
        s.planned = plannedTotals(s.plan);
    }
    s.start.schedule.stateEvery = run.every;
    s.start.schedule.finalState = !o.writeState.empty();
    if (!o.writeState.empty()) {
        // The final state's place is checked before hours of computing.
        if (Status replaceable = checkReplaceable(o.writeState); !replaceable) {
            return replaceable;
        }
        std::error_code ec;
        const auto folder = o.writeState.has_parent_path() ? o.writeState.parent_path()
                                                           : std::filesystem::path(".");
        if (!std::filesystem::is_directory(folder, ec)) {
            return Error{o.writeState.filename().string() + " cannot be written: the folder "
                         + folder.string() + " does not exist."};
        }
    }
    if (run.every > 0) {
        std::error_code ec;
        std::filesystem::create_directories(run.dir, ec);
        if (ec || !std::filesystem::is_directory(run.dir, ec)) {
            return Error{"The folder for states " + run.dir.string() + " cannot be created."};
        }
    }
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
    status = onCase(executor, [&] { return readRainfall(paths.rainfall(), s.rain, &console); });
    if (!status) {
        return status;
    }
    status = onCase(executor, [&] { return settleStates(paths, s); });
    for (const std::string& line : s.stateLines) {
        sayLine(console, line);
    }
    return status;
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
Status routed(RunStatus run, const DischargeFiles& files, const Status& stateFailure) {
    switch (run) {
        case RunStatus::kComplete:
            break;
        case RunStatus::kSinkRefused:
            if (!stateFailure) {
                return stateFailure;
            }
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
        const std::vector<RiverWater> rivers =
            waterBalance(s.riverNumbers, s.planned, s.drainsInto);
        if (rivers.empty()) {
            // Volumes that are not numbers: the check of the grids that follows says why.
            return s.outputs.commit();
        }
        const std::filesystem::path target = outputDir / kWaterBalanceName;
        if (Status written = s.outputs.write(
                target, waterBalanceCsv(s.options.scheme, rivers, s.options.channelWidth));
            !written) {
            return written;
        }
        return s.outputs.commit();
    });
}

/// A state the run hands out: into the folder of states, and kept for the end of the event.
Status handOutState(CaseState& s, BasinState&& basin, const NonFiniteTally& nonFinite) {
    const std::int64_t hour = basin.hour;
    const RunState state =
        runStateOf(s.states, std::move(basin), s.riverNumbers, s.planned, nonFinite);
    if (s.states.every > 0 && hour % s.states.every == 0) {
        if (Status written = writePeriodicState(s.states, state); !written) {
            return written;
        }
    }
    if (s.start.schedule.finalState && hour == static_cast<std::int64_t>(s.params.days) * 24) {
        return writeState(s.outputs, s.options.writeState, state);
    }
    return success();
}

/// check, route, write and report: the time loop and the output files.
Status runEvent(const CasePaths& paths, std::ostream& console, Executor& executor, CaseState& s) {
    // The run's own state is allocated before any output file is touched.
    const std::size_t cells = s.plan.cells.size();
    ProgressPacer progress =
        progressLines(console, static_cast<std::int64_t>(s.classCount), cells, s.params.days);
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
        return files.open(outputDir, {p.studyCols, p.studyRows, p.swLon, p.swLat}, p.days,
                          s.start.schedule.firstHour);
    });
    if (!status) {
        return status;
    }

    // The time loop, with the progress lines paced by the cell-hours done (a resumed run has
    // done some already). Its allocations are the executor's own concern: every process
    // returns the same status.
    progress.advance(s.start.schedule.firstHour * static_cast<std::int64_t>(cells));
    progress.start();
    NonFiniteTally nonFinite = s.earlierNonFinite;
    const FrameSink sink{[&](std::int32_t day, std::int32_t hour, std::span<const float> frame) {
                             nonFinite.addHour(day, hour, frame);
                             return files.writeHour(frame);
                         },
                         [&](std::int32_t, std::span<const float> mean,
                             std::span<const float> max) { return files.writeDay(mean, max); }};
    const StateSink states = [&](BasinState&& basin) {
        s.stateFailure = handOutState(s, std::move(basin), nonFinite);
        return static_cast<bool>(s.stateFailure);
    };
    status = executor.agree(routed(executor.route(sink, s.start, states), files, s.stateFailure));
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
