#pragma once

// The simulator's command line. Without arguments it runs the case in the working directory
// exactly as it always has.

#include <string>
#include <vector>

#include "common/result.h"
#include "runoff_sim/simulation.h"

namespace hydro::runoff {

/// What the command line asks for.
struct CommandLine {
    bool help = false;  ///< print kUsage and stop
    RunOptions run;
};

/// The text --help prints.
extern const char* const kUsage;

/// Reads the arguments (without the program name). The error names the argument that is
/// wrong and what would be right.
[[nodiscard]] Result<CommandLine> parseCommandLine(const std::vector<std::string>& args);

}  // namespace hydro::runoff
