#include "results/station_netcdf.h"

#include <string>

#include "results/event_time.h"

namespace hydro::results {

using Type = NetcdfFile::Type;

HourAxisIds defineHourAxis(NetcdfFile& nc, int timeDim, int nvDim, const EventStart& start) {
    HourAxisIds ids;
    ids.time = nc.defineVariable("time", Type::kDouble, {timeDim});
    nc.text(ids.time, "standard_name", "time");
    nc.text(ids.time, "long_name", "end of the hour");
    nc.text(ids.time, "units", hoursSinceUnits(start));
    nc.text(ids.time, "calendar", "standard");
    nc.text(ids.time, "axis", "T");
    nc.text(ids.time, "bounds", "time_bnds");
    ids.bounds = nc.defineVariable("time_bnds", Type::kDouble, {timeDim, nvDim});
    return ids;
}

void putHourAxis(NetcdfFile& nc, const HourAxisIds& ids, std::size_t hours) {
    std::vector<double> t(hours);
    std::vector<double> tb(2 * hours);
    for (std::size_t h = 0; h < hours; ++h) {
        t[h] = static_cast<double>(h + 1);
        tb[2 * h] = static_cast<double>(h);
        tb[2 * h + 1] = static_cast<double>(h + 1);
    }
    nc.put(ids.time, {0}, {hours}, t.data());
    nc.put(ids.bounds, {0, 0}, {hours, 2}, tb.data());
}

StationIds defineStations(NetcdfFile& nc, int stationDim, int nameDim) {
    StationIds l;
    l.id = nc.defineVariable("station_id", Type::kChar, {stationDim, nameDim});
    nc.text(l.id, "cf_role", "timeseries_id");
    nc.text(l.id, "long_name", "gauge id");
    l.lat = nc.defineVariable("lat", Type::kDouble, {stationDim});
    nc.text(l.lat, "standard_name", "latitude");
    nc.text(l.lat, "long_name", "latitude of the centre of the gauge's cell");
    nc.text(l.lat, "units", "degrees_north");
    l.lon = nc.defineVariable("lon", Type::kDouble, {stationDim});
    nc.text(l.lon, "standard_name", "longitude");
    nc.text(l.lon, "long_name", "longitude of the centre of the gauge's cell");
    nc.text(l.lon, "units", "degrees_east");
    l.column = nc.defineVariable("column", Type::kInt, {stationDim});
    nc.text(l.column, "long_name", "column of the gauge's cell, from 1 at the west edge");
    l.row = nc.defineVariable("row", Type::kInt, {stationDim});
    nc.text(l.row, "long_name", "row of the gauge's cell, from 1 at the south edge");
    l.area = nc.defineVariable("upstream_area", Type::kDouble, {stationDim});
    nc.text(l.area, "long_name", "area draining through the gauge's cell");
    nc.text(l.area, "units", "km2");
    return l;
}

void putStation(NetcdfFile& nc, const StationIds& ids, std::size_t k, const Gauge& gauge,
                const SnappedGauge& snapped, std::size_t idLength) {
    std::string name = gauge.id;
    name.resize(idLength, '\0');
    nc.put(ids.id, {k, 0}, {1, idLength}, name.data());
    nc.put(ids.lat, {k}, {1}, &snapped.lat);
    nc.put(ids.lon, {k}, {1}, &snapped.lon);
    const double c = snapped.column;
    const double r = snapped.row;
    nc.put(ids.column, {k}, {1}, &c);
    nc.put(ids.row, {k}, {1}, &r);
    nc.put(ids.area, {k}, {1}, &snapped.upstreamKm2);
}

}  // namespace hydro::results
