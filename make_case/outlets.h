#pragma once

// Gauges given as a CSV file (`id,lon,lat` and an optional `area_km2`) and their snapping onto
// the cells of the flow network.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "make_case/terrain_grid.h"

namespace hydro::make_case {

struct OutletRequest {
    std::string id;
    double lon = 0.0;  ///< degrees
    double lat = 0.0;  ///< degrees
    std::optional<double> areaKm2;
};

/// Reads the outlets file: a header line naming the columns `id`, `lon`, `lat` and optionally
/// `area_km2` (in any order; other columns ignored, except one that misspells a known name, an
/// error), then one outlet a line. The error names the file and the line when something is wrong.
[[nodiscard]] Result<std::vector<OutletRequest>> readOutlets(const std::filesystem::path& path);

/// The same from the text of the file, `name` naming it in the error. Every outlet has a
/// non-empty id of its own, a finite longitude, a latitude within ±90 and an area, when
/// given, above 0.
[[nodiscard]] Result<std::vector<OutletRequest>> parseOutlets(std::string_view text,
                                                              const std::string& name);

struct SnappedOutlet {
    std::int32_t cell = -1;
    double distanceCells = 0.0;  ///< from the cell that holds the given point, in cells
    double areaKm2 = 0.0;        ///< upstream area of the chosen cell
    std::int64_t distance = 0;   ///< the same as snapDistanceCells counts it, for the table
    /// With a given area, the "Warning:" line when the cell's upstream area is off by more
    /// than kSnapAreaTolerance (case/snap_report.h); empty otherwise.
    std::string warning;
};

/// Snaps each outlet to an interior inside cell of the (2r+1) × (2r+1) window centred on the
/// cell holding it: the largest flow accumulation, or with a given area the upstream area
/// closest to it; equal candidates go to the nearer cell, then north to south and west to
/// east. Fails when an outlet lies off the grid, finds no cell, or lands on the cell of an
/// earlier outlet. A cell whose area is off by more than the tolerance gets its warning.
[[nodiscard]] Result<std::vector<SnappedOutlet>> snapOutlets(std::span<const OutletRequest> outlets,
                                                             const GridSpec& gridSpec,
                                                             std::span<const std::uint8_t> outside,
                                                             std::span<const std::int32_t> flowAcc,
                                                             std::span<const double> areaKm2,
                                                             std::int32_t radius);

/// The snapping table: id, river number, column and row as `discharge_series` numbers them,
/// distance in cells as snapDistanceCells counts it, upstream area against the given one, then
/// the warnings; printed on `out`, each id short and printable as `quoteToken` shows it.
void printSnapTable(std::span<const OutletRequest> outlets, std::span<const SnappedOutlet> snapped,
                    const GridSpec& gridSpec, std::ostream& out);

}  // namespace hydro::make_case
