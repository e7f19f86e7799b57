#pragma once

// results_page: writes CASE/output/index.html, a page that shows a simulated event (the hourly
// discharge map over the terrain, the time and the basin rain, and the hydrograph of any cell
// clicked), with its data in CASE/output/page/.

#include <ostream>
#include <span>
#include <string>

namespace hydro::results_page {

/// Runs the program with its arguments `args` (without the program name). The result line, or
/// the one line that says what is wrong, goes to `out`; progress goes to `progress`.
/// @return the exit status: 0 on success, 1 after a reported failure.
[[nodiscard]] int runResultsPage(std::span<const std::string> args, std::ostream& out,
                                 std::ostream& progress);

}  // namespace hydro::results_page
