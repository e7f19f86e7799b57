#pragma once

// The simulator in one process: the sequence of runoff_sim/simulation.h with the time loop of
// RoutingEngine on the threads of OpenMP.

#include <filesystem>
#include <ostream>

#include "runoff_sim/simulation.h"

namespace hydro::runoff {

/// Runs the whole simulation in the case folder `caseDir` (the working directory of the
/// program: it holds "param-event.dat", "topoData/", "input/" and "output/"), printing to
/// `console`, with the choices of `options`. Returns the exit status: 0 after a complete run,
/// 1 after a reported failure.
[[nodiscard]] int runRunoffSim(const std::filesystem::path& caseDir, std::ostream& console,
                               const RunOptions& options = {});

}  // namespace hydro::runoff
