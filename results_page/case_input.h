#pragma once

// What results_page reads from a case folder: parameters, rivers, drainage network, rainfall
// and the event's start through the case library, and the optional gauge tables that
// gauge_series leaves in the output folder.

#include <filesystem>
#include <optional>
#include <string>

#include "case/case.h"

namespace hydro::results_page {

/// The inputs of a case that the page draws from.
struct CaseInput {
    EventParameters params;
    RiverList rivers;
    StudyGrid grid;  ///< row 0 north, with elevation, flow accumulation, river numbers
    RainGrid rain;
    EventStart start;
    std::optional<std::string> note;  ///< the case's note (case-note.txt), shown under the title
};

/// Reads param-event.dat, topoData/, input/rain.dat and the optional case-note.txt of
/// `caseDir`.
[[nodiscard]] Result<CaseInput> readCaseInput(const std::filesystem::path& caseDir);

/// The text of an optional file of the case's output folder (the gauge tables), or nothing when
/// the file does not exist; an error when it exists but cannot be read.
[[nodiscard]] Result<std::optional<std::string>> readOptionalOutputText(
    const std::filesystem::path& caseDir, const std::string& name);

}  // namespace hydro::results_page
