#pragma once

// The ensemble program: "ensemble CASE [--rain FILE...] [--params SETS.csv] [--gauges
// GAUGES.csv] [--snap-radius N] [--exceedance Q] [--member-threads N] [--scheme
// linear|conservative]" routes many members of one case in one process (rainfall files and
// parameter sets) and writes, into CASE/output/ensemble, every member's series at the gauges,
// their quantiles hour by hour, a fan chart per gauge and, when asked, the share of members
// whose peak exceeds a discharge in every cell.

#include <ostream>
#include <span>
#include <string>

namespace hydro::members {
class MemberExecutor;
}

namespace hydro::ensemble {

/// Runs the program with `args` (without the program name). Tables and the result, or the one
/// line that says what is wrong, go to `out`; progress (members done, time left) to
/// `progress`. @return 0 on success, 1 after a reported failure (nothing then written).
[[nodiscard]] int runEnsemble(std::span<const std::string> args, std::ostream& out,
                              std::ostream& progress);

/// The same with the members run by `executor`: under MPI every rank calls it with the same
/// arguments and ends with the same status; the writing rank alone writes the files (the
/// other ranks' streams may drop what they are given).
[[nodiscard]] int runEnsemble(std::span<const std::string> args, std::ostream& out,
                              std::ostream& progress, members::MemberExecutor& executor);

}  // namespace hydro::ensemble
