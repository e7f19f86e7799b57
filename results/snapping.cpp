#include "results/snapping.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <optional>
#include <ostream>

#include "case/drainage_network.h"
#include "case/snap_report.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "results/grid_vrt.h"
#include "results/nice_scale.h"

namespace hydro::results {

namespace {

/// The smallest window radius around (column0, rowS0) that holds a routed cell whose upstream
/// area is within the tolerance of `givenKm2`, if the grid has one.
std::optional<std::int64_t> reachingRadius(const StudyGrid& grid, const RiverList& rivers,
                                           const std::vector<double>& upstreamM2,
                                           std::int64_t column0, std::int64_t rowS0,
                                           double givenKm2) {
    std::optional<std::int64_t> nearest;
    for (std::int64_t rs = 0; rs < grid.rows; ++rs) {
        const auto memoryRow = static_cast<std::int32_t>(grid.rows - 1 - rs);
        for (std::int64_t c = 0; c < grid.cols; ++c) {
            const CellIndex i = grid.index(memoryRow, static_cast<std::int32_t>(c));
            if (!isRouted(grid[i], rivers)
                || !areaWithinTolerance(upstreamM2[static_cast<std::size_t>(i)] / 1e6, givenKm2)) {
                continue;
            }
            const std::int64_t d = snapDistanceCells(c - column0, rs - rowS0);
            if (!nearest || d < *nearest) {
                nearest = d;
            }
        }
    }
    return nearest;
}

/// Whether the grid holds the point (`lon`, `lat`), degrees.
bool holds(const EventParameters& p, const StudyGrid& grid, double lon, double lat) {
    const double column = (lon - static_cast<double>(p.swLon)) / kCellDegrees;
    const double row = (lat - static_cast<double>(p.swLat)) / kCellDegrees;
    return column >= 0.0 && column < grid.cols && row >= 0.0 && row < grid.rows;
}

}  // namespace

Result<SnappedGauge> snapGauge(const Gauge& gauge, const StudyGrid& grid, const RiverList& rivers,
                               const EventParameters& p, const std::vector<double>& upstreamM2,
                               std::int64_t radius) {
    constexpr double kCellsPerDegree = 120.0;
    const double fc = std::floor((gauge.lon - static_cast<double>(p.swLon)) * kCellsPerDegree);
    const double fr = std::floor((gauge.lat - static_cast<double>(p.swLat)) * kCellsPerDegree);
    // Far outside the grid no window can reach it; the clamp keeps the integers in range.
    const double limit = 4.0e9;
    const auto column0 = static_cast<std::int64_t>(std::clamp(fc, -limit, limit));
    const auto rowS0 = static_cast<std::int64_t>(std::clamp(fr, -limit, limit));

    const std::int64_t rFirst = std::max<std::int64_t>(rowS0 - radius, 0);
    const std::int64_t rLast = std::min<std::int64_t>(rowS0 + radius, grid.rows - 1);
    const std::int64_t cFirst = std::max<std::int64_t>(column0 - radius, 0);
    const std::int64_t cLast = std::min<std::int64_t>(column0 + radius, grid.cols - 1);

    CellIndex best = kNoCell;
    double bestMiss = 0.0;
    for (std::int64_t rs = rFirst; rs <= rLast; ++rs) {
        const auto memoryRow = static_cast<std::int32_t>(grid.rows - 1 - rs);
        for (std::int64_t c = cFirst; c <= cLast; ++c) {
            const CellIndex i = grid.index(memoryRow, static_cast<std::int32_t>(c));
            const GridCell& cell = grid[i];
            if (!isRouted(cell, rivers)) {
                continue;
            }
            bool better = false;
            if (gauge.areaKm2) {
                const double miss =
                    std::abs(upstreamM2[static_cast<std::size_t>(i)] / 1e6 - *gauge.areaKm2);
                better = best == kNoCell || miss < bestMiss;
                if (better) {
                    bestMiss = miss;
                }
            } else {
                better = best == kNoCell || cell.flowAcc > grid[best].flowAcc;
            }
            if (better) {
                best = i;
            }
        }
    }
    if (best == kNoCell && !holds(p, grid, gauge.lon, gauge.lat)) {
        const auto west = static_cast<double>(p.swLon);
        const auto south = static_cast<double>(p.swLat);
        std::string line = "Gauge " + gauge.id + " at longitude " + shortestText(gauge.lon)
                           + ", latitude " + shortestText(gauge.lat)
                           + ": this point lies outside the grid (longitude " + shortestText(west)
                           + " to " + shortestText(west + grid.cols * kCellDegrees) + ", latitude "
                           + shortestText(south) + " to "
                           + shortestText(south + grid.rows * kCellDegrees) + ")";
        line += holds(p, grid, gauge.lat, gauge.lon) ? "; latitude and longitude swapped?" : ".";
        return Error{line};
    }
    if (best == kNoCell) {
        return Error{"Gauge " + gauge.id + " has no cell of a listed river off the border within "
                     + std::to_string(radius) + " cells of its position ("
                     + std::to_string(gauge.lon) + ", " + std::to_string(gauge.lat)
                     + "); a larger --snap-radius may reach one."};
    }
    SnappedGauge s;
    s.cell = best;
    s.column = grid.userColumn(best);
    s.row = grid.userRow(best);
    // From 0, for the distance and the cell centre.
    const std::int32_t column = s.column - 1;
    const std::int32_t rowS = s.row - 1;
    s.distance = snapDistanceCells(column - column0, rowS - rowS0);
    s.upstreamKm2 = upstreamM2[static_cast<std::size_t>(best)] / 1e6;
    if (gauge.areaKm2 && !areaWithinTolerance(s.upstreamKm2, *gauge.areaKm2)) {
        s.warning = snapAreaWarning(
            gauge.id, s.upstreamKm2, *gauge.areaKm2, radius,
            reachingRadius(grid, rivers, upstreamM2, column0, rowS0, *gauge.areaKm2));
    }
    s.lon = static_cast<double>(p.swLon) + (column + 0.5) * kCellDegrees;
    s.lat = static_cast<double>(p.swLat) + (rowS + 0.5) * kCellDegrees;
    s.riverNum = grid[best].riverNum;
    s.flowAcc = grid[best].flowAcc;
    return s;
}

void printSnappedGauges(std::ostream& out, const std::vector<Gauge>& gauges,
                        const std::vector<SnappedGauge>& snapped, std::int64_t radius) {
    sayLine(out, "Gauges (snapped within ", radius, " cells; column from the west, ",
            "row from the south, both from 1):");
    sayLine(out, std::left, std::setw(16), "id", std::right, std::setw(8), "column", std::setw(6),
            "row", std::setw(18), kSnapDistanceHeading, std::setw(14), "upstream_km2",
            std::setw(12), "given_km2");
    for (std::size_t k = 0; k < snapped.size(); ++k) {
        const SnappedGauge& s = snapped[k];
        const auto& given = gauges[k].areaKm2;
        sayLine(out, std::left, std::setw(16), gauges[k].id, std::right, std::setw(8), s.column,
                std::setw(6), s.row, std::setw(18), s.distance, std::setw(14),
                fixedText(s.upstreamKm2, 1), std::setw(12), given ? fixedText(*given, 1) : "-");
    }
    for (const SnappedGauge& s : snapped) {
        if (!s.warning.empty()) {
            sayLine(out, s.warning);
        }
    }
}

}  // namespace hydro::results
