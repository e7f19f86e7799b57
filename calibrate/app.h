#pragma once

// calibrate: the values of a case that bring its gauges' series closest to their
// observations, found in one process by many runs of the case (members/member_runs.h).

#include <ostream>
#include <span>
#include <string>

namespace hydro::calibrate {

/// Runs `calibrate` with the arguments after the program name, printing the results and any
/// error line to `out` and progress to `progress`. Returns the exit status: 0 after a complete
/// calibration, 1 after a reported failure.
[[nodiscard]] int runCalibrate(std::span<const std::string> args, std::ostream& out,
                               std::ostream& progress);

}  // namespace hydro::calibrate
