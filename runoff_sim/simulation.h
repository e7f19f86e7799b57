#pragma once

// The simulator's one sequence of stages (read, check, plan, route, write, report) and the
// executors that run it: in one process, or spread over the ranks of MPI. The sequence alone
// prints the console lines of a run, its progress lines and its failure lines.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <vector>

#include "case/case.h"
#include "case/rain_grid.h"
#include "common/result.h"
#include "routing/routing_engine.h"
#include "runoff_sim/water_balance.h"

namespace hydro::runoff {

/// The line that ends a run for which an allocation failed.
inline constexpr const char* kNotEnoughMemory = "Not enough memory for this run.";

/// The state of every routed cell of the basin at the end of an event hour, in the process
/// that holds the case.
struct BasinState {
    std::int64_t hour = 0;
    /// Frame positions of the routed cells, ascending.
    std::vector<std::int32_t> positions;
    /// Per cell, its node states and the lateral inflow of the hour (RoutingEngine::
    /// stateValues).
    std::vector<double> values;
    /// Per river, what the routing engines added up since this run started (without storage).
    std::vector<RiverTotals> totals;
};

/// Receives the states a run hands out, in hour order; returning false stops the run.
using StateSink = std::function<bool(BasinState&&)>;

/// Where a run starts and which states it hands out.
struct RouteStart {
    RouteSchedule schedule;
    /// In the process that holds the case: the hourly frames of the day in which the run
    /// starts, up to its first hour (schedule.firstHour % 24 frames).
    std::vector<float> dayFrames;
};

/// Where the stages of a run execute. One process holds the case: it reads the input, prints
/// and writes the output files; every process runs the time loop.
class Executor {
public:
    Executor() = default;
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;
    Executor(Executor&&) = delete;
    Executor& operator=(Executor&&) = delete;
    virtual ~Executor() = default;

    /// True in the process that holds the case.
    [[nodiscard]] virtual bool holdsCase() const = 0;
    /// The outcome of a stage that every process has reached, given this process's own:
    /// success when every process succeeded, otherwise the error of the lowest failing
    /// process (its line in the process that holds the case). Every process gets the same
    /// verdict.
    [[nodiscard]] virtual Status agree(Status mine) = 0;
    /// Readies the time loop for `plan` and `rain` (empty outside the process that holds the
    /// case) with the progress lines `progress`, which must outlive the run. May throw
    /// std::bad_alloc, only after the processes have agreed on everything before it.
    [[nodiscard]] virtual Status prepare(RoutingPlan plan, RainGrid rain,
                                         ProgressPacer& progress) = 0;
    /// Runs the event from `start`; the frames reach `sink` in file order in the process that
    /// holds the case, and the states the schedule asks for reach `states` there, each after
    /// the frames of its hour. Every process returns the same status.
    [[nodiscard]] virtual RunStatus route(const FrameSink& sink, const RouteStart& start,
                                          const StateSink& states) = 0;
    /// After a complete route(): the river totals of the run (finalTotals) of every process,
    /// added into `totals` in the process that holds the case, which sized it; nothing
    /// elsewhere. The verdict of every process.
    [[nodiscard]] virtual Status gatherWater(std::vector<RiverTotals>& totals) = 0;
};

/// What the command line chose.
struct RunOptions {
    Scheme scheme = Scheme::kLinear;
    std::filesystem::path writeState;  ///< the state at the end of the event, or empty
    std::int32_t stateEvery = 0;       ///< hours between states in stateDir, 0 for none
    std::filesystem::path stateDir;
    std::int32_t keepStates = 0;      ///< states kept in stateDir, 0 for all
    std::filesystem::path warmStart;  ///< the state to start from, or empty
    std::filesystem::path resume;     ///< the folder of states of the run to go on with
    ChannelWidthLaw channelWidth;     ///< of the channel cells; the model's unless asked
};

/// Runs the simulation of the case at `paths` on `executor`, printing to `console` (a stream
/// that discards everything outside the process that holds the case). Returns the exit status,
/// the same in every process: 0 after a complete run, 1 after a reported failure.
[[nodiscard]] int runSimulation(const CasePaths& paths, std::ostream& console, Executor& executor,
                                const RunOptions& options = {});

}  // namespace hydro::runoff
