#pragma once

// The rainfall forcing: a regular latitude-longitude grid of rainfall points (row 0 the
// southernmost), their hourly intensities from "input/rain.dat" and the nearest point of each
// study cell.

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <vector>

#include "case/event_parameters.h"
#include "common/result.h"

namespace hydro {

struct RainCell {
    float latDeg = 0.0F;     ///< latitude of the point, degrees
    float lonDeg = 0.0F;     ///< longitude, degrees; a value above 180 is held minus 360
    std::int32_t colNo = 0;  ///< 1-based column number
    std::int32_t rowNo = 0;  ///< 1-based row number

    /// Sets the position (wrapping longitudes above 180) and the 1-based numbers.
    void initRainCell(float lat, float lon, std::int32_t column, std::int32_t row);
};

struct RainGrid {
    std::int32_t rows = 0;
    std::int32_t cols = 0;
    std::int32_t days = 0;
    std::vector<RainCell> points;  ///< row-major, row 0 south, column 0 west
    /// Intensity in mm/hr of every point for days 0..days and hours 0..23 (day 0 stays 0).
    std::vector<float> rain;

    [[nodiscard]] std::int32_t index(std::int32_t row, std::int32_t column) const {
        return row * cols + column;
    }
    [[nodiscard]] std::size_t rainIndex(std::int32_t point, std::int32_t day,
                                        std::int32_t hourIndex) const {
        return (static_cast<std::size_t>(point) * static_cast<std::size_t>(days + 1)
                + static_cast<std::size_t>(day))
                   * 24U
               + static_cast<std::size_t>(hourIndex);
    }
    [[nodiscard]] float rainAt(std::int32_t point, std::int32_t day, std::int32_t hourIndex) const {
        return rain[rainIndex(point, day, hourIndex)];
    }
};

/// Allocates the rainfall grid and places its points: lat = row * rainDy + rainLat0 and
/// lon = column * rainDx + rainLon0, in single precision.
[[nodiscard]] RainGrid placeRainPoints(const EventParameters& p);

/// With `echo`, prints "Read ./input/rain.dat"; then fills every point's intensities from
/// `path`: per day and hour a block of six header integers, then the intensities from the
/// north row to the south row, each row west to east. Errors: "ROF file cannot open." (a
/// folder cannot be opened either), and one line naming the day and hour of the block when
/// the file ends early or holds a token that is not a number.
[[nodiscard]] Status readRainfall(const std::filesystem::path& path, RainGrid& grid,
                                  std::ostream* echo = nullptr);

/// Index of the rainfall point nearest to a cell centre (arc-seconds), by planar distance in
/// degrees; the first of equally near points in the order rows south to north, each row west
/// to east. Returns -1 when no point lies nearer than 1e29.
[[nodiscard]] std::int32_t findNearestRainCell(float latSec, float lonSec, const RainGrid& grid);

}  // namespace hydro
