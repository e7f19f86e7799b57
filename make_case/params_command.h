#pragma once

// make_case params: sets the finite-difference and kinematic-wave values of a case's
// param-event.dat and keeps the others. Values are checked by the case library's reader, the
// one the simulator uses, so a case never holds a value the simulator would refuse.

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "case/event_parameters.h"

namespace hydro::make_case {

/// `text` with the values numbered by the keys (from 1) replaced by the mapped text, every
/// other byte kept; nothing when the text holds fewer values than the largest key.
[[nodiscard]] std::optional<std::string> replaceParameterValues(
    const std::string& text, const std::map<int, std::string>& byNumber);

/// Writes `text` as `caseDir/param-event.dat` under a temporary name, reads it back with the
/// simulator's rules and renames it into place. On a value the simulator would refuse, prints
/// one line (prefixed by `context`), removes the temporary file and returns nothing; the file
/// that was there stays as it was.
[[nodiscard]] std::optional<EventParameters> replaceParameterFile(
    const std::filesystem::path& caseDir, const std::string& text, const std::string& context,
    std::ostream& out);

/// Runs `make_case params CASE --option VALUE ...` (args[0] is "params").
[[nodiscard]] int runParams(const std::vector<std::string>& args, std::ostream& out);

}  // namespace hydro::make_case
