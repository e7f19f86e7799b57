#pragma once

// The outlet hydrograph program: "outlet CASE_DIR" names the outlet cell of a case's largest
// listed river; "plot CASE_DIR COLUMN ROW SERIES_FILE SVG_FILE" draws that cell's discharge
// series over the basin rainfall.

#include <ostream>
#include <span>
#include <string>

namespace hydro::hydrograph {

/// Runs one command with the program's arguments `args` (without the program name). Writes
/// the result line, or the one line that says what is wrong, to `out`.
/// @return the exit status: 0 on success, 1 after a reported failure.
[[nodiscard]] int runOutletHydrograph(std::span<const std::string> args, std::ostream& out);

}  // namespace hydro::hydrograph
