#pragma once

// Whole small text files (tables, series) read into memory, with the refusals a reader gives
// in its own words.

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/result.h"

namespace hydro {

/// How a reader refuses a file: each message whole, as the user reads it.
struct TextFileRefusals {
    std::uintmax_t largestBytes = 0;  ///< a larger file is refused with `tooLarge`
    std::string folder;               ///< the path names a folder
    std::string tooLarge;
    std::string name;  ///< how "<name> cannot open." and "<name> cannot be read." name it
};

/// The whole text of the file at `path`. Errors: `refusals.folder`, `refusals.tooLarge`,
/// "<name> cannot open." (kCannotOpen), "<name> cannot be read.".
[[nodiscard]] Result<std::string> readTextFile(const std::filesystem::path& path,
                                               const TextFileRefusals& refusals);

}  // namespace hydro
