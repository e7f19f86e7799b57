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

std::optional<std::string> writeGaugeNetcdf(const GaugeNetcdfJob& job) {
    const std::vector<Gauge>& gauges = *job.gauges;
    const std::vector<SnappedGauge>& snapped = *job.snapped;
    const std::size_t stations = gauges.size();
    const auto hours = static_cast<std::size_t>(job.params.days) * 24U;
    std::size_t idLength = 1;
    for (const Gauge& g : gauges) {
        idLength = std::max(idLength, g.id.size());
    }
    const std::string units = results::hoursSinceUnits(job.start);

    NetcdfFile nc;
    if (!nc.create(job.file)) {
        return job.file.filename().string() + " cannot be created (" + nc.error() + ").";
    }
    const int stationDim = nc.defineDimension("station", stations);
    const int timeDim = nc.defineDimension("time", hours);
    const int nameDim = nc.defineDimension("name_strlen", idLength);
    const int nvDim = nc.defineDimension("nv", 2);

    const int time = nc.defineVariable("time", Type::kDouble, {timeDim});
    nc.text(time, "standard_name", "time");
    nc.text(time, "long_name", "end of the hour");
    nc.text(time, "units", units);
    nc.text(time, "calendar", "standard");
    nc.text(time, "axis", "T");
    nc.text(time, "bounds", "time_bnds");
    const int timeBounds = nc.defineVariable("time_bnds", Type::kDouble, {timeDim, nvDim});

    const int id = nc.defineVariable("station_id", Type::kChar, {stationDim, nameDim});
    nc.text(id, "cf_role", "timeseries_id");
    nc.text(id, "long_name", "gauge id");
    const int lat = nc.defineVariable("lat", Type::kDouble, {stationDim});
    nc.text(lat, "standard_name", "latitude");
    nc.text(lat, "long_name", "latitude of the centre of the gauge's cell");
    nc.text(lat, "units", "degrees_north");
    const int lon = nc.defineVariable("lon", Type::kDouble, {stationDim});
    nc.text(lon, "standard_name", "longitude");
    nc.text(lon, "long_name", "longitude of the centre of the gauge's cell");
    nc.text(lon, "units", "degrees_east");
    const int column = nc.defineVariable("column", Type::kInt, {stationDim});
    nc.text(column, "long_name", "column of the gauge's cell, from 1 at the west edge");
    const int row = nc.defineVariable("row", Type::kInt, {stationDim});
    nc.text(row, "long_name", "row of the gauge's cell, from 1 at the south edge");
    const int area = nc.defineVariable("upstream_area", Type::kDouble, {stationDim});
    nc.text(area, "long_name", "area draining through the gauge's cell");
    nc.text(area, "units", "km2");
    const int crs = results::defineCrs(nc);
    static_cast<void>(crs);

    const int q = nc.defineVariable("discharge", Type::kFloat, {stationDim, timeDim});
    nc.number(q, "_FillValue", results::kNoData);
    nc.text(q, "units", "m3 s-1");
    nc.text(q, "standard_name", "water_volume_transport_in_river_channel");
    nc.text(q, "long_name", "simulated hourly mean discharge at the gauge");
    nc.text(q, "cell_methods", "time: mean");
    nc.text(q, "coordinates", "time lat lon station_id");
    nc.text(q, "grid_mapping", "crs");
    nc.compress(q, {1, hours});

    constexpr int kGlobalAttr = NetcdfFile::kGlobal;
    nc.text(kGlobalAttr, "Conventions", "CF-1.8");
    nc.text(kGlobalAttr, "featureType", "timeSeries");
    nc.text(kGlobalAttr, "title", "Simulated river discharge at gauges");
    nc.text(kGlobalAttr, "source", results::sourceText("gauge_series"));
    nc.text(kGlobalAttr, "history", job.history);
    nc.text(kGlobalAttr, "event_start", results::isoHourEnd(job.start, 0));
    results::putEventParameterAttributes(nc, job.params);
    nc.endDefinitions();

    std::vector<double> t(hours);
    std::vector<double> tb(2 * hours);
    for (std::size_t h = 0; h < hours; ++h) {
        t[h] = static_cast<double>(h + 1);
        tb[2 * h] = static_cast<double>(h);
        tb[2 * h + 1] = static_cast<double>(h + 1);
    }
    nc.put(time, {0}, {hours}, t.data());
    nc.put(timeBounds, {0, 0}, {hours, 2}, tb.data());
    for (std::size_t k = 0; k < stations; ++k) {
        std::string name = gauges[k].id;
        name.resize(idLength, '\0');
        nc.put(id, {k, 0}, {1, idLength}, name.data());
        nc.put(lat, {k}, {1}, &snapped[k].lat);
        nc.put(lon, {k}, {1}, &snapped[k].lon);
        const double c = snapped[k].column;
        const double r = snapped[k].row;
        nc.put(column, {k}, {1}, &c);
        nc.put(row, {k}, {1}, &r);
        nc.put(area, {k}, {1}, &snapped[k].upstreamKm2);
        nc.put(q, {k, 0}, {1, hours}, (*job.series)[k].data());
    }
    if (!nc.close()) {
        return job.file.filename().string() + " cannot be written (" + nc.error() + ").";
    }
    return std::nullopt;
}

}  // namespace hydro::gauges
