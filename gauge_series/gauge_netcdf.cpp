#include "gauge_series/gauge_netcdf.h"

#include <algorithm>

#include "results/event_time.h"
#include "results/grid_netcdf.h"
#include "results/netcdf_file.h"

namespace hydro::gauges {

using results::Gauge;
using results::SnappedGauge;

using results::NetcdfFile;
using Type = NetcdfFile::Type;

namespace {

/// Ids of the file's variables.
struct Layout {
    int time = -1;
    int timeBounds = -1;
    int id = -1;
    int lat = -1;
    int lon = -1;
    int column = -1;
    int row = -1;
    int area = -1;
    int discharge = -1;
};

/// The station variables: id, position, cell and upstream area.
void defineStations(NetcdfFile& nc, int stationDim, int nameDim, Layout& l) {
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
}

/// Dimensions, variables and attributes, up to the end of the definitions.
Layout defineLayout(NetcdfFile& nc, const GaugeNetcdfJob& job, std::size_t idLength) {
    const auto hours = static_cast<std::size_t>(job.params.days) * 24U;
    const int stationDim = nc.defineDimension("station", job.gauges->size());
    const int timeDim = nc.defineDimension("time", hours);
    const int nameDim = nc.defineDimension("name_strlen", idLength);
    const int nvDim = nc.defineDimension("nv", 2);

    Layout l;
    l.time = nc.defineVariable("time", Type::kDouble, {timeDim});
    nc.text(l.time, "standard_name", "time");
    nc.text(l.time, "long_name", "end of the hour");
    nc.text(l.time, "units", results::hoursSinceUnits(job.start));
    nc.text(l.time, "calendar", "standard");
    nc.text(l.time, "axis", "T");
    nc.text(l.time, "bounds", "time_bnds");
    l.timeBounds = nc.defineVariable("time_bnds", Type::kDouble, {timeDim, nvDim});
    defineStations(nc, stationDim, nameDim, l);
    results::defineCrs(nc);

    l.discharge = nc.defineVariable("discharge", Type::kFloat, {stationDim, timeDim});
    nc.number(l.discharge, "_FillValue", results::kNoData);
    nc.text(l.discharge, "units", "m3 s-1");
    nc.text(l.discharge, "standard_name", "water_volume_transport_in_river_channel");
    nc.text(l.discharge, "long_name", "simulated hourly mean discharge at the gauge");
    nc.text(l.discharge, "cell_methods", "time: mean");
    nc.text(l.discharge, "coordinates", "time lat lon station_id");
    nc.text(l.discharge, "grid_mapping", "crs");
    nc.compress(l.discharge, {1, hours});

    constexpr int kGlobalAttr = NetcdfFile::kGlobal;
    nc.text(kGlobalAttr, "Conventions", "CF-1.8");
    nc.text(kGlobalAttr, "featureType", "timeSeries");
    nc.text(kGlobalAttr, "title", "Simulated river discharge at gauges");
    nc.text(kGlobalAttr, "source", results::sourceText("gauge_series"));
    nc.text(kGlobalAttr, "history", job.history);
    nc.text(kGlobalAttr, "event_start", results::isoHourEnd(job.start, 0));
    results::putEventParameterAttributes(nc, job.params);
    results::putSchemeAttributes(nc, job.scheme);
    nc.endDefinitions();
    return l;
}

/// The time axis and every station's values.
void writeValues(NetcdfFile& nc, const Layout& l, const GaugeNetcdfJob& job, std::size_t idLength) {
    const std::vector<Gauge>& gauges = *job.gauges;
    const std::vector<SnappedGauge>& snapped = *job.snapped;
    const auto hours = static_cast<std::size_t>(job.params.days) * 24U;
    std::vector<double> t(hours);
    std::vector<double> tb(2 * hours);
    for (std::size_t h = 0; h < hours; ++h) {
        t[h] = static_cast<double>(h + 1);
        tb[2 * h] = static_cast<double>(h);
        tb[2 * h + 1] = static_cast<double>(h + 1);
    }
    nc.put(l.time, {0}, {hours}, t.data());
    nc.put(l.timeBounds, {0, 0}, {hours, 2}, tb.data());
    for (std::size_t k = 0; k < gauges.size(); ++k) {
        std::string name = gauges[k].id;
        name.resize(idLength, '\0');
        nc.put(l.id, {k, 0}, {1, idLength}, name.data());
        nc.put(l.lat, {k}, {1}, &snapped[k].lat);
        nc.put(l.lon, {k}, {1}, &snapped[k].lon);
        const double c = snapped[k].column;
        const double r = snapped[k].row;
        nc.put(l.column, {k}, {1}, &c);
        nc.put(l.row, {k}, {1}, &r);
        nc.put(l.area, {k}, {1}, &snapped[k].upstreamKm2);
        nc.put(l.discharge, {k, 0}, {1, hours}, (*job.series)[k].data());
    }
}

}  // namespace

Status writeGaugeNetcdf(const GaugeNetcdfJob& job) {
    std::size_t idLength = 1;
    for (const Gauge& g : *job.gauges) {
        idLength = std::max(idLength, g.id.size());
    }
    const std::string name = job.name.empty() ? job.file.filename().string() : job.name;
    NetcdfFile nc;
    if (!nc.create(job.file)) {
        return Error{name + " cannot be created (" + nc.error() + ")."};
    }
    const Layout layout = defineLayout(nc, job, idLength);
    writeValues(nc, layout, job, idLength);
    if (!nc.close()) {
        return Error{name + " cannot be written (" + nc.error() + ")."};
    }
    return success();
}

}  // namespace hydro::gauges
