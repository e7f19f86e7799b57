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
#include <vector>

#include "common/raw_grid_io.h"
#include "common/result.h"
#include "results/grid_vrt.h"
#include "routing/discharge_means.h"

namespace hydro::runoff {

inline constexpr std::array<const char*, 3> kOutputNames{
    "dischargeDaily.bin", "dischargeHourlyMaxInDay.bin", "dischargeHourly.bin"};
/// The VRT description of each grid, in the same order.
inline constexpr std::array<const char*, 3> kVrtNames{
    "dischargeDaily.vrt", "dischargeHourlyMaxInDay.vrt", "dischargeHourly.vrt"};

/// Counts the hourly values that are not finite numbers (NaN or infinite), frame by frame, and
/// remembers the first one in file order.
class NonFiniteTally {
public:
    /// Counts the values of one hourly frame (day and hour from 1).
    void addHour(std::int32_t day, std::int32_t hour, std::span<const float> frame);
    [[nodiscard]] std::int64_t count() const { return count_; }
    /// Takes up the count of a run that goes on from a state.
    void restore(std::int64_t count, std::int64_t firstPosition, std::int32_t firstDay,
                 std::int32_t firstHour) {
        count_ = count;
        firstPosition_ = firstPosition;
        firstDay_ = firstDay;
        firstHour_ = firstHour;
    }
    [[nodiscard]] std::int64_t firstPosition() const { return firstPosition_; }
    [[nodiscard]] std::int32_t firstDay() const { return firstDay_; }
    [[nodiscard]] std::int32_t firstHour() const { return firstHour_; }
    /// Success when every value was finite; otherwise an error whose line gives the count, the
    /// first value's cell (column and row from 1, from the west and from the south, for frames
    /// `columns` wide), day and hour, and the likely cause for the scheme's `weight`.
    [[nodiscard]] Status check(std::int32_t columns, double weight) const;

private:
    std::int64_t count_ = 0;
    std::int64_t firstPosition_ = -1;
    std::int32_t firstDay_ = 0;
    std::int32_t firstHour_ = 0;
};

/// Tells whether each output file (the grids, then their VRT files) can be created in
/// `outputDir`, in that order, without changing a file that exists. The error "<name> cannot
/// open." names the first that cannot (files that the check itself created are removed again).
[[nodiscard]] Status checkOutputFiles(const std::filesystem::path& outputDir);

/// Hours of complete frames the grids in `outputDir` hold for frames of `frameValues` values:
/// the hourly frames, as far as the daily grids hold every day they complete.
[[nodiscard]] std::int64_t hoursOnDisk(const std::filesystem::path& outputDir,
                                       std::size_t frameValues);

/// The hourly frames of the day in which event hour `hoursDone` ends (hoursDone % 24 frames),
/// from the hourly grid in `outputDir`. The error names the grid.
[[nodiscard]] Result<std::vector<float>> dayFramesOnDisk(const std::filesystem::path& outputDir,
                                                         std::size_t frameValues,
                                                         std::int64_t hoursDone);

/// The three files, written frame by frame while the event runs.
class DischargeFiles {
public:
    /// Creates or truncates the three grids and their VRT files (which stay empty until the
    /// grids are complete); the error "<name> cannot open." names the first that failed. For a
    /// run that goes on after `hoursDone` hours, the grids keep their frames of those hours
    /// (anything beyond them is cut off) and the run's frames follow.
    [[nodiscard]] Status open(const std::filesystem::path& outputDir,
                              const results::GridFrameLayout& layout, std::int32_t days,
                              std::int64_t hoursDone = 0);
    [[nodiscard]] bool writeHour(std::span<const float> frame);
    [[nodiscard]] bool writeDay(std::span<const float> dailyMean, std::span<const float> dailyMax);
    /// Closes grid `grid` (an index into kOutputNames); the error "<name> cannot be written."
    /// when its values did not all reach the disk.
    [[nodiscard]] Status closeGrid(std::size_t grid);
    /// Writes and closes the three VRT files, once the grids are closed; the error "<name>
    /// cannot be written." names the first that failed.
    [[nodiscard]] Status writeDescriptions();
    /// The error "<name> cannot be written." of the first grid whose writing failed (the
    /// hourly grid when none did).
    [[nodiscard]] Error writeFailure() const;

private:
    std::array<RawValueWriter, 3> files_;
    std::array<std::ofstream, 3> vrtFiles_;
    results::GridFrameLayout layout_;
    std::int32_t days_ = 0;
};

}  // namespace hydro::runoff
