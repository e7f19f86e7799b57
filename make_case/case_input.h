#pragma once

// Every read of an existing case folder by make_case goes through here, on top of the case
// library, so that the tool sees case folders exactly as the simulator does. Failures come back
// as values holding the one line that says what is wrong.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "case/case.h"

namespace hydro::make_case {

/// The 18 values of `caseDir/param-event.dat`, validated as the simulator validates them.
[[nodiscard]] Result<EventParameters> readCaseParameters(const std::filesystem::path& caseDir);

/// The text of `caseDir/param-event.dat` as it stands, for rewriting some of its values.
[[nodiscard]] Result<std::string> readCaseParameterText(const std::filesystem::path& caseDir);

/// The river numbers listed in `caseDir/topoData/riverNumList.dat`, ascending, negative entries
/// and entries of incomplete records left out.
[[nodiscard]] Result<std::vector<std::int32_t>> readCaseRivers(
    const std::filesystem::path& caseDir);

/// A topographic grid of the case, row 0 north, and how many values its file holds. Values past
/// the end of a short file are left at zero: the check reports every fault it can find, so it
/// reads the raw values rather than the simulator's network, which stops at the first.
template <class T>
struct CaseGrid {
    std::vector<T> values;
    std::uint64_t valuesInFile = 0;
};
[[nodiscard]] Result<CaseGrid<float>> readCaseFloatGrid(const std::filesystem::path& caseDir,
                                                        const char* name, const EventParameters& p);
[[nodiscard]] Result<CaseGrid<std::int32_t>> readCaseIntGrid(const std::filesystem::path& caseDir,
                                                             const char* name,
                                                             const EventParameters& p);

/// The rainfall points of the case, placed as the simulator places them.
[[nodiscard]] RainGrid caseRainPoints(const EventParameters& p);

/// Reads `input/rain.dat` as the simulator does; on success also tells how many numbers the
/// file holds in all.
struct RainFile {
    RainGrid grid;
    std::uint64_t numbersInFile = 0;
};
[[nodiscard]] Result<RainFile> readCaseRain(const std::filesystem::path& caseDir,
                                            const EventParameters& p);

}  // namespace hydro::make_case
