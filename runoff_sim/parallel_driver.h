#pragma once

// The simulator's main sequence over the ranks of an MPI run (built with HYDRO_MPI): every
// rank reads the case and builds the plan, then runs its share of the trees; rank 0 alone
// prints and writes the output files. The console text and the files are those of a run in
// one process.

#include <filesystem>
#include <ostream>

namespace hydro::runoff {

/// Runs the simulation in `caseDir` on the ranks of MPI_COMM_WORLD (MPI must be initialised);
/// `console` is used on rank 0 only. Every rank returns the same exit status: 0 after a
/// complete run, 1 when any rank failed (its line printed once, by rank 0).
[[nodiscard]] int runRunoffSimParallel(const std::filesystem::path& caseDir, std::ostream& console);

}  // namespace hydro::runoff
