#pragma once

// The three discharge grids in "./output/": daily means, daily maxima of the hourly means and
// hourly means, each a sequence of frames of single-precision values (rows south to north,
// each row west to east), -9999 where a cell has no discharge. Beside each grid a GDAL VRT
// file of the same base name presents it north-up and georeferenced to GIS tools.

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <span>

#include "common/raw_grid_io.h"
#include "runoff_sim/grid_vrt.h"

namespace hydro::runoff {

inline constexpr std::array<const char*, 3> kOutputNames{
    "dischargeDaily.bin", "dischargeHourlyMaxInDay.bin", "dischargeHourly.bin"};
/// The VRT description of each grid, in the same order.
inline constexpr std::array<const char*, 3> kVrtNames{
    "dischargeDaily.vrt", "dischargeHourlyMaxInDay.vrt", "dischargeHourly.vrt"};

/// Mean of one hour's sub-step outflows: a single-precision sum in sub-step order divided by
/// the number of sub-steps.
[[nodiscard]] float hourlyMeanDischarge(std::span<const float> subStepOutflows);
/// Mean of a day's 24 hourly means, summed in hour order in single precision.
[[nodiscard]] float dailyMeanDischarge(std::span<const float, 24> hourlyMeans);
/// Largest of a day's hourly means, never below 0; a mean that is not a number never wins.
[[nodiscard]] float dailyMaxHourlyDischarge(std::span<const float, 24> hourlyMeans);

/// Tells whether each output file (the grids, then their VRT files) can be created in
/// `outputDir`, in that order, without
/// changing a file that exists. Prints "<name> cannot open." for the first that cannot and
/// returns false then (files that the check itself created are removed again).
[[nodiscard]] bool checkOutputFiles(const std::filesystem::path& outputDir, std::ostream& console);

/// The three files, written frame by frame while the event runs.
class DischargeFiles {
public:
    /// Creates or truncates the three grids and their VRT files (which stay empty until the
    /// grids are complete); prints "<name> cannot open." on failure.
    [[nodiscard]] bool open(const std::filesystem::path& outputDir, const GridFrameLayout& layout,
                            std::int32_t days, std::ostream& console);
    [[nodiscard]] bool writeHour(std::span<const float> frame);
    [[nodiscard]] bool writeDay(std::span<const float> dailyMean, std::span<const float> dailyMax);
    /// Prints "Write ./output/<name>" for each file in order and closes it; a file whose values
    /// did not all reach the disk is reported ("<name> cannot be written.") and gives false.
    /// Then writes the three VRT files, reported the same way.
    [[nodiscard]] bool finish(std::ostream& console);
    /// Reports the first file whose writing failed.
    void reportFailure(std::ostream& console) const;

private:
    std::array<RawValueWriter, 3> files_;
    std::array<std::ofstream, 3> vrtFiles_;
    GridFrameLayout layout_;
    std::int32_t days_ = 0;
};

}  // namespace hydro::runoff
