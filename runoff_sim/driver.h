#pragma once

// The simulator's main sequence: parameters, river list, grids, drainage network, rainfall,
// set-up, processing order, time loop and output, each stage printing its console lines.

#include <filesystem>
#include <ostream>

namespace hydro::runoff {

/// The line that ends a run for which an allocation failed.
inline constexpr const char* kNotEnoughMemory = "Not enough memory for this run.";

/// Runs the whole simulation in the case folder `caseDir` (the working directory of the
/// program: it holds "param-event.dat", "topoData/", "input/" and "output/"). Returns the
/// exit status: 0 after a complete run, 1 after a reported failure.
[[nodiscard]] int runRunoffSim(const std::filesystem::path& caseDir, std::ostream& console);

}  // namespace hydro::runoff
