#pragma once

// The note a case folder may carry about itself in `case-note.txt`, such as a warning that its
// terrain is not where its coordinates say. Its first line is shown wherever the case's results
// are (the results page's subtitle, the NetCDF `comment` attribute); the rest of the file is
// free text for people. A case without the file has no note, and every output stays as it was.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "common/result.h"

namespace hydro {

/// The file name of the note inside a case folder.
inline constexpr const char* kCaseNoteFile = "case-note.txt";

/// The longest note line taken, in bytes.
inline constexpr std::size_t kCaseNoteMaxBytes = 1000;

/// The first line of `caseDir/case-note.txt`, without a trailing CR and surrounding blanks;
/// nothing when the file does not exist or the line is blank. An error naming the file when it
/// cannot be read, or the line holds a control character or is longer than kCaseNoteMaxBytes.
[[nodiscard]] Result<std::optional<std::string>> readCaseNote(const std::filesystem::path& caseDir);

}  // namespace hydro
