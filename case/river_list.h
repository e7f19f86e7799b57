#pragma once

// "topoData/riverNumList.dat": the rivers to simulate, one record per line (a river number,
// five more integers and two reals that the simulator skips). The number of rivers is the
// number of lines; the records are read as a stream of values.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "common/result.h"

namespace hydro {

class RiverList {
public:
    RiverList() = default;
    explicit RiverList(std::vector<std::int32_t> rivers);

    /// True when `riverNum` equals an entry of the list. Only non-negative numbers can be
    /// listed: entries past the last complete record and negative entries never list a cell.
    [[nodiscard]] bool isListedRiver(std::int32_t riverNum) const;
    [[nodiscard]] const std::vector<std::int32_t>& sorted() const { return sorted_; }

private:
    std::vector<std::int32_t> sorted_;
};

/// No line of a river list comes near this length.
inline constexpr std::int64_t kMaxRiverLineLength = 4096;

/// The number of rivers: the number of lines, as reading whole lines until a read fails
/// counts them (an empty line counts; the end after a final line break adds nothing). Errors:
/// "riverNumList.dat cannot open." (a folder cannot be opened either), or a line longer than
/// kMaxRiverLineLength (the file is not a river list).
[[nodiscard]] Result<std::int64_t> countRiverLines(const std::filesystem::path& path);

/// Reads up to `riverCount` records (six integers and two reals each) and keeps the river
/// number of every complete record. The list may end before `riverCount` records (empty lines
/// count as rivers without a record), but a value that is not a number of its kind, or a
/// record cut off by the end of the file, is an error naming its line.
[[nodiscard]] Result<RiverList> readRiverList(const std::filesystem::path& path,
                                              std::int64_t riverCount);

/// Both steps at once, for the tools that do not print the count in between.
[[nodiscard]] Result<RiverList> readRiverList(const std::filesystem::path& path);

}  // namespace hydro
