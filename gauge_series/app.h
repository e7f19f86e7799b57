#pragma once

// The gauge_series program: "gauge_series CASE GAUGES.csv [--observed OBS.csv]
// [--snap-radius N]" places the gauges on the simulated rivers and writes, into CASE/output,
// their hourly discharge (CSV and CF-NetCDF), their cells, their hydrographs and the skill
// against observations when given; the console also shows the simulator's water balance of
// every listed river.

#include <ostream>
#include <span>
#include <string>

namespace hydro::gauges {

/// Runs the program with its arguments `args` (without the program name). Tables and the
/// result, or the one line that says what is wrong, go to `out`; progress to `progress`.
/// @return the exit status: 0 on success, 1 after a reported failure.
[[nodiscard]] int runGaugeSeries(std::span<const std::string> args, std::ostream& out,
                                 std::ostream& progress);

/// Shortest text that reads back as the same value ("0.1", "1e-05", "-9999").
[[nodiscard]] std::string shortest(double v);
[[nodiscard]] std::string shortest(float v);

}  // namespace hydro::gauges
