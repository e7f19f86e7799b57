#pragma once

// The members of an ensemble: parameter sets read from a small comma-separated table, crossed
// with the rainfall files given, each member named for the console and the files.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "members/member_runs.h"

namespace hydro::ensemble {

/// One parameter set of the table.
struct ParameterSet {
    std::string name;              ///< the `member` cell, or "set<row>" (row from 1)
    members::MemberValues values;  ///< the case's values where the table names none
    /// The parameters the table names, in the order of its header.
    std::vector<members::Parameter> named;
};

/// Parses the parameter table `text` read from `fileName`: a header naming some of
/// manning-slope, manning-channel, initial-runoff and rain-factor (each once), optionally
/// preceded by a first column `member`, then one row per set. A parameter not in the header,
/// or a cell left empty, keeps `caseValues`' value. Errors (one line naming the file, the line
/// and the column): an unknown or repeated column, a row of the wrong width, a cell that is no
/// number, a Manning value not above 0, an initial runoff or rain factor below 0, a member
/// name that is not 1 to 64 letters, digits, '_', '-' or '.' or is given twice, and a table
/// without rows.
[[nodiscard]] Result<std::vector<ParameterSet>> parseParameterSets(
    std::string_view text, const std::string& fileName, const members::MemberValues& caseValues);

/// A member to run: its name, its values and its rainfall (an index into the rain files
/// given, or `kCaseRain`).
struct MemberPlan {
    std::string name;
    members::MemberValues values;
    std::size_t rain = 0;
};
inline constexpr std::size_t kCaseRain = static_cast<std::size_t>(-1);

/// The members of `sets` and `rainNames` (the stems of the rain files): every set with every
/// rain file, the sets outermost ("<set>_<rain>"); only sets, each with the case's rain; only
/// rain files, each with the case's values (named by the file). Both empty: no member.
[[nodiscard]] std::vector<MemberPlan> crossMembers(const std::vector<ParameterSet>& sets,
                                                   const std::vector<std::string>& rainNames,
                                                   const members::MemberValues& caseValues);

}  // namespace hydro::ensemble
