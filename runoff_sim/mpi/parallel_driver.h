#pragma once

// The simulator over the ranks of MPI (built with HYDRO_MPI): the sequence of
// runoff_sim/simulation.h, with the case read on rank 0 alone and the time loop spread over
// the ranks. The console text and the files are those of a run in one process.

#include <filesystem>
#include <ostream>

#include "runoff_sim/simulation.h"

namespace hydro::runoff {

/// Runs the simulation in `caseDir` on the ranks of MPI_COMM_WORLD (MPI must be initialised);
/// `console` is used on rank 0 only. Every rank returns the same exit status: 0 after a
/// complete run, 1 when any rank failed (its line printed once, by rank 0).
[[nodiscard]] int runRunoffSimParallel(const std::filesystem::path& caseDir, std::ostream& console,
                                       const RunOptions& options = {});

}  // namespace hydro::runoff
