#pragma once

// The three discharge grids in "./output/": daily means, daily maxima of the hourly means and
// hourly means, each a sequence of frames of single-precision values (rows south to north,
// each row west to east), -9999 where a cell has no discharge.

#include <array>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <span>

#include "common/raw_grid_io.h"

namespace hydro::runoff {

inline constexpr std::array<const char*, 3> kOutputNames{
    "dischargeDaily.bin", "dischargeHourlyMaxInDay.bin", "dischargeHourly.bin"};

/// Mean of one hour's sub-step outflows: a single-precision sum in sub-step order divided by
/// the number of sub-steps.
[[nodiscard]] float hourlyMeanDischarge(std::span<const float> subStepOutflows);
/// Mean of a day's 24 hourly means, summed in hour order in single precision.
[[nodiscard]] float dailyMeanDischarge(std::span<const float, 24> hourlyMeans);
/// Largest of a day's hourly means, never below 0; a mean that is not a number never wins.
[[nodiscard]] float dailyMaxHourlyDischarge(std::span<const float, 24> hourlyMeans);

/// Tells whether each output file can be created in `outputDir`, in file order, without
/// changing a file that exists. Prints "<name> cannot open." for the first that cannot and
/// returns false then (files that the check itself created are removed again).
[[nodiscard]] bool checkOutputFiles(const std::filesystem::path& outputDir, std::ostream& console);

/// The three files, written frame by frame while the event runs.
class DischargeFiles {
public:
    /// Creates or truncates the three files; prints "<name> cannot open." on failure.
    [[nodiscard]] bool open(const std::filesystem::path& outputDir, std::ostream& console);
    [[nodiscard]] bool writeHour(std::span<const float> frame);
    [[nodiscard]] bool writeDay(std::span<const float> dailyMean, std::span<const float> dailyMax);
    /// Prints "Write ./output/<name>" for each file in order and closes it; a file whose values
    /// did not all reach the disk is reported ("<name> cannot be written.") and gives false.
    [[nodiscard]] bool finish(std::ostream& console);
    /// Reports the first file whose writing failed.
    void reportFailure(std::ostream& console) const;

private:
    std::array<RawValueWriter, 3> files_;
};

}  // namespace hydro::runoff
