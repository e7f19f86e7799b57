#pragma once

// The rainfall forcing: a regular latitude-longitude grid of rainfall points (row 0 the
// southernmost), their hourly intensities from "./input/rain.dat", the nearest point of each
// routed cell and the conversion of an hour's rain into lateral inflow.

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <vector>

#include "runoff_sim/event_parameters.h"

namespace hydro::runoff {

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

/// Prints "Read ./input/rain.dat" and fills every point's intensities from `path`: per day and
/// hour a block of six header integers, then the intensities from the north row to the south
/// row, each row west to east. Prints "ROF file cannot open." (and returns false) when the
/// file cannot be opened, and one line naming the day and hour of the block when the file
/// ends early or holds a token that is not a number.
[[nodiscard]] bool readRainfall(const std::filesystem::path& path, RainGrid& grid,
                                std::ostream& console);

/// Index of the rainfall point nearest to a cell centre (arc-seconds), by planar distance in
/// degrees; the first of equally near points in the order rows south to north, each row west
/// to east. Returns -1 when no point lies nearer than 1e29.
[[nodiscard]] std::int32_t findNearestRainCell(float latSec, float lonSec, const RainGrid& grid);

/// Lateral inflow per metre of flow path, m^2/s, of a rain intensity in mm/hr falling on a
/// cell of width `cellWidth` drained over `flowLength`.
[[nodiscard]] inline double lateralInflow(float rainIntensity, float cellWidth, double flowLength) {
    return static_cast<double>(rainIntensity) * 0.001 * 926.6 * static_cast<double>(cellWidth)
           / flowLength / 3600.0;
}

struct LateralPair {
    double prev;  ///< from the previous hour (day 0 for the first hour of the event)
    double now;   ///< from this hour
};

/// `lateralPrev` and `lateralNow` of a cell for `day` 1..days and `hour` 1..24.
[[nodiscard]] LateralPair updateLateralInflow(const RainGrid& grid, std::int32_t point,
                                              std::int32_t day, std::int32_t hour, float cellWidth,
                                              double flowLength);

}  // namespace hydro::runoff
