#include "results_page/page_data.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "case/basin_rainfall.h"
#include "results/colour_scale.h"

namespace hydro::results_page {

using results::scaleIndex;

std::vector<CellIndex> simulatedCells(const StudyGrid& grid, const RiverList& rivers) {
    std::vector<CellIndex> cells;
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
        const GridCell& cell = grid.cells[i];
        if (cell.isEdge == 0 && rivers.isListedRiver(cell.riverNum)) {
            cells.push_back(static_cast<CellIndex>(i));
        }
    }
    return cells;
}

void DischargeRange::add(float v) {
    if (count == 0) {
        smallest = v;
        largest = v;
    }
    ++count;
    smallest = std::min(smallest, v);
    largest = std::max(largest, v);
    if (v > 0.0F && (smallestPositive == 0.0F || v < smallestPositive)) {
        smallestPositive = v;
    }
}

std::uint8_t logIndex(float v, float lower, float upper) {
    constexpr std::uint8_t kTop = 255;
    if (!(v > lower)) {
        return 0;
    }
    if (v >= upper) {
        return kTop;
    }
    const double span = std::log(static_cast<double>(upper)) - std::log(static_cast<double>(lower));
    const double position =
        (std::log(static_cast<double>(v)) - std::log(static_cast<double>(lower))) / span
        * static_cast<double>(kTop);
    return static_cast<std::uint8_t>(std::clamp(std::trunc(position), 0.0, 255.0));
}

std::uint8_t sqrtIndex(float v, float lower, float upper) {
    if (!(upper > lower)) {
        return 0;
    }
    const std::int32_t index = scaleIndex(std::clamp(v, lower, upper), lower, upper);
    return static_cast<std::uint8_t>(std::clamp(index, 0, 255));
}

std::vector<std::uint8_t> hillshade(const StudyGrid& grid, double exaggeration) {
    const std::int32_t rows = grid.rows;
    const std::int32_t cols = grid.cols;
    std::vector<std::uint8_t> shade(grid.cells.size(), 0);
    if (rows == 0 || cols == 0) {
        return shade;
    }
    const auto height = [&](std::int32_t row, std::int32_t column) {
        row = std::clamp(row, 0, rows - 1);
        column = std::clamp(column, 0, cols - 1);
        return static_cast<double>(grid[grid.index(row, column)].elevation) * exaggeration;
    };
    // Light from the north-west (azimuth 315 degrees), 45 degrees above the horizon.
    const double altitude = std::numbers::pi / 4.0;
    const double azimuth = 315.0 / 180.0 * std::numbers::pi;
    const double lightX = std::sin(azimuth) * std::cos(altitude);  // east component
    const double lightY = std::cos(azimuth) * std::cos(altitude);  // north component
    const double lightZ = std::sin(altitude);
    for (std::int32_t row = 0; row < rows; ++row) {
        for (std::int32_t column = 0; column < cols; ++column) {
            const CellIndex i = grid.index(row, column);
            const double width = std::max(1.0, static_cast<double>(grid[i].cellWidth));
            // Gradients toward the east and the north (row 0 is the north row).
            const double dzdx = (height(row, column + 1) - height(row, column - 1)) / (2.0 * width);
            const double dzdy =
                (height(row - 1, column) - height(row + 1, column)) / (2.0 * kCellHeight);
            const double lit = (-dzdx * lightX - dzdy * lightY + lightZ)
                               / std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0);
            const double grey = std::clamp(lit, 0.0, 1.0) * 255.0;
            shade[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::lround(grey));
        }
    }
    return shade;
}

BasinRain basinRainByRiver(const StudyGrid& grid, const RiverList& rivers, const RainGrid& rain) {
    RiversRainfall all = basinRainfallByRiver(
        grid, rain, [&rivers](std::int32_t r) { return rivers.isListedRiver(r); });
    BasinRain out;
    out.unmatchedCell = all.unmatchedCell;
    for (auto& [river, basin] : all.byRiver) {
        out.byRiver.emplace(river, std::move(basin.mmPerHour));
    }
    return out;
}

}  // namespace hydro::results_page
