#pragma once

// The simulator's one sequence of stages (read, check, plan, route, write, report) and the
// executors that run it: in one process, or spread over the ranks of MPI. The sequence alone
// prints the console lines of a run, its progress lines and its failure lines.

#include <ostream>
#include <vector>

#include "case/case.h"
#include "case/rain_grid.h"
#include "common/result.h"
#include "runoff_sim/routing_engine.h"
#include "runoff_sim/water_balance.h"

namespace hydro::runoff {

/// The line that ends a run for which an allocation failed.
inline constexpr const char* kNotEnoughMemory = "Not enough memory for this run.";

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
    /// Runs the event; the frames reach `sink` in file order in the process that holds the
    /// case. Every process returns the same status.
    [[nodiscard]] virtual RunStatus route(const FrameSink& sink) = 0;
    /// After a complete route(): the river totals of the run (finalTotals) of every process,
    /// added into `totals` in the process that holds the case, which sized it; nothing
    /// elsewhere. The verdict of every process.
    [[nodiscard]] virtual Status gatherWater(std::vector<RiverTotals>& totals) = 0;
};

/// What the command line chose.
struct RunOptions {
    Scheme scheme = Scheme::kLinear;
};

/// Runs the simulation of the case at `paths` on `executor`, printing to `console` (a stream
/// that discards everything outside the process that holds the case). Returns the exit status,
/// the same in every process: 0 after a complete run, 1 after a reported failure.
[[nodiscard]] int runSimulation(const CasePaths& paths, std::ostream& console, Executor& executor,
                                const RunOptions& options = {});

}  // namespace hydro::runoff
