#pragma once

// Gauges placed on the simulated river network: each goes to a cell of a listed river, off
// the border, within a square window around the cell that holds it.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "case/event_parameters.h"
#include "case/grid_cell.h"
#include "case/river_list.h"
#include "results/gauge_table.h"

namespace hydro::results {

struct SnappedGauge {
    CellIndex cell = kNoCell;
    std::int32_t column = 0;  ///< from 1, from the west
    std::int32_t row = 0;     ///< from 1, from the south
    std::int64_t distance =
        0;  ///< cells from the cell holding the gauge (largest of the two offsets)
    double upstreamKm2 = 0.0;
    double lon = 0.0;  ///< cell centre, degrees
    double lat = 0.0;
    std::int32_t riverNum = -1;
    std::int32_t flowAcc = 0;
    /// With a given area, the "Warning:" line when the cell's upstream area is off by more
    /// than kSnapAreaTolerance (snap_report.h); empty otherwise.
    std::string warning;
};

/// Snaps `gauge` within the (2r+1) x (2r+1) window centred on the cell holding it (the part of
/// the window inside the grid): to the candidate with the largest flow accumulation or, when
/// the gauge gives its area, to the one whose upstream area is closest to it; ties go to the
/// first candidate in file order (southern rows first, then west). Candidates are the cells
/// the simulator routes: on a listed river, off the border, with a positive flow
/// accumulation. Fails, naming the gauge, when there is none. The distance is counted as
/// snapDistanceCells counts it.
Result<SnappedGauge> snapGauge(const Gauge& gauge, const StudyGrid& grid, const RiverList& rivers,
                               const EventParameters& p, const std::vector<double>& upstreamM2,
                               std::int64_t radius);

/// Prints where each gauge went, as a table headed "Gauges (snapped within <radius> cells; ...)":
/// id, column, row, distance in cells, upstream and given area (km2, one decimal).
void printSnappedGauges(std::ostream& out, const std::vector<Gauge>& gauges,
                        const std::vector<SnappedGauge>& snapped, std::int64_t radius);

}  // namespace hydro::results
