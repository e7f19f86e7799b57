#pragma once

// The time loop exactly as the model states it, kept for comparison: class by class in
// ascending flow accumulation, each class scanning the grid north to south and west to east,
// every taken cell through the whole event before the next, each cell's whole outflow history
// kept until the output. Only for small cases.

#include <filesystem>
#include <vector>

namespace hydro::test {

struct ReferenceOutputs {
    std::vector<float> daily;
    std::vector<float> dailyMax;
    std::vector<float> hourly;
};

/// Runs the case in `caseDir` with the literal sequential order and returns the three files'
/// values in file order.
[[nodiscard]] ReferenceOutputs runSequentialReference(const std::filesystem::path& caseDir);

}  // namespace hydro::test
