#pragma once

// calibrate: the values of a case that bring its gauges' series closest to their
// observations, found in one process by many runs of the case (members/member_runs.h).

#include <ostream>
#include <span>
#include <string>

namespace hydro::members {
class MemberExecutor;
}

namespace hydro::calibrate {

/// Runs `calibrate` with the arguments after the program name, printing the results and any
/// error line to `out` and progress to `progress`. Returns the exit status: 0 after a complete
/// calibration, 1 after a reported failure.
[[nodiscard]] int runCalibrate(std::span<const std::string> args, std::ostream& out,
                               std::ostream& progress);

/// The same with the members run by `executor`: under MPI every rank calls it with the same
/// arguments, all run the same search and end with the same status; the writing rank alone
/// writes files (the other ranks' streams may drop what they are given).
[[nodiscard]] int runCalibrate(std::span<const std::string> args, std::ostream& out,
                               std::ostream& progress, members::MemberExecutor& executor);

}  // namespace hydro::calibrate
