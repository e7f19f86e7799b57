#pragma once

// "./topoData/riverNumList.dat": the rivers to simulate, one record per line (a river number,
// five more integers and two reals that the simulator skips).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace hydro::runoff {

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

/// The number of rivers: the number of lines, as reading whole lines until a read fails
/// counts them (an empty line counts; the end after a final line break adds nothing).
/// Nothing when the file cannot be opened.
[[nodiscard]] std::optional<std::int64_t> countRiverLines(const std::filesystem::path& path);

/// Reads up to `riverCount` records (six integers and two reals each) and keeps the river
/// number of every complete record. Reading stops at the first value that is missing or not a
/// number of its kind. Nothing when the file cannot be opened.
[[nodiscard]] std::optional<RiverList> readRiverList(const std::filesystem::path& path,
                                                     std::int64_t riverCount);

}  // namespace hydro::runoff
