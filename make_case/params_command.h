#pragma once

// make_case params: sets the finite-difference and kinematic-wave values of a case's
// param-event.dat and keeps the others. Values are checked by the case library's reader, the
// one the simulator uses, so a case never holds a value the simulator would refuse.

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "case/event_parameters.h"
#include "common/file_transaction.h"
#include "common/result.h"

namespace hydro::make_case {

/// `text` with the values numbered by the keys (from 1) replaced by the mapped text, every
/// other byte kept. Fails ("holds fewer than <n> values.") when the text holds fewer values than
/// the largest key.
[[nodiscard]] Result<std::string> replaceParameterValues(
    const std::string& text, const std::map<int, std::string>& byNumber);

/// Adds `text` as `caseDir/param-event.dat` to the transaction `files` (written under its
/// temporary name, not yet put in place) and reads it back with the simulator's rules. A value
/// the simulator would refuse fails with one line prefixed by `context`; the caller's
/// transaction then leaves every file as it was.
[[nodiscard]] Result<EventParameters> stageParameterFile(FileTransaction& files,
                                                         const std::filesystem::path& caseDir,
                                                         const std::string& text,
                                                         const std::string& context);

/// Runs `make_case params CASE --option VALUE ...` (args[0] is "params"); prints its lines on
/// `out` and returns the exit status.
[[nodiscard]] int runParams(const std::vector<std::string>& args, std::ostream& out);

}  // namespace hydro::make_case
