#pragma once

// `make_case check`: validates a case folder before hours of computing. Every finding is one
// line; errors mean the simulator would fail or produce garbage, warnings that it runs but
// perhaps not as meant.

#include <filesystem>
#include <ostream>

namespace hydro::make_case {

struct CheckSummary {
    int errors = 0;
    int warnings = 0;
};

/// Runs every check on `caseDir`, printing one line per finding and a summary line.
[[nodiscard]] CheckSummary checkCase(const std::filesystem::path& caseDir, std::ostream& out);

}  // namespace hydro::make_case
