#pragma once

// The discharge_netcdf program: "discharge_netcdf CASE" writes CASE/output/discharge.nc from
// the simulator's three grids and the case's parameters and rainfall start time.

#include <ostream>
#include <span>
#include <string>

namespace hydro::results {

/// Runs the program with its arguments `args` (without the program name). The result, or the
/// one line that says what is wrong, goes to `out`; progress to `progress`.
/// @return the exit status: 0 on success, 1 after a reported failure.
[[nodiscard]] int runDischargeNetcdf(std::span<const std::string> args, std::ostream& out,
                                     std::ostream& progress);

}  // namespace hydro::results
