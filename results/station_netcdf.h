#pragma once

// The parts of a CF discrete-sampling-geometry file of gauges (featureType timeSeries) that
// every such file shares: the hour axis with its bounds and the station variables (id,
// position, cell and upstream area of each gauge).

#include <cstddef>
#include <vector>

#include "case/event_start.h"
#include "results/gauge_table.h"
#include "results/netcdf_file.h"
#include "results/snapping.h"

namespace hydro::results {

/// Ids of the hour axis: `time` (the end of each hour, hours since the event start) and
/// `time_bnds`.
struct HourAxisIds {
    int time = -1;
    int bounds = -1;
};

/// Defines `time` on `timeDim` and `time_bnds` on (`timeDim`, `nvDim`).
[[nodiscard]] HourAxisIds defineHourAxis(NetcdfFile& nc, int timeDim, int nvDim,
                                         const EventStart& start);
/// Writes hours 1..`hours` and their bounds (h - 1, h).
void putHourAxis(NetcdfFile& nc, const HourAxisIds& ids, std::size_t hours);

/// Ids of the station variables.
struct StationIds {
    int id = -1;
    int lat = -1;
    int lon = -1;
    int column = -1;
    int row = -1;
    int area = -1;
};

/// Defines `station_id` (cf_role timeseries_id) on (`stationDim`, `nameDim`) and `lat`, `lon`,
/// `column`, `row` and `upstream_area` on `stationDim`.
[[nodiscard]] StationIds defineStations(NetcdfFile& nc, int stationDim, int nameDim);
/// Writes station `k`: the id padded with NULs to `idLength`, and its cell's values.
void putStation(NetcdfFile& nc, const StationIds& ids, std::size_t k, const Gauge& gauge,
                const SnappedGauge& snapped, std::size_t idLength);

}  // namespace hydro::results
