#include "gauge_series/gauge_netcdf.h"

#include <algorithm>

#include "results/event_time.h"
#include "results/grid_netcdf.h"
#include "results/netcdf_file.h"
#include "results/station_netcdf.h"

namespace hydro::gauges {

using results::Gauge;
using results::SnappedGauge;

using results::NetcdfFile;
using Type = NetcdfFile::Type;

namespace {

/// Ids of the file's variables.
struct Layout {
    results::HourAxisIds time;
    results::StationIds stations;
    int discharge = -1;
};

/// Dimensions, variables and attributes, up to the end of the definitions.
Layout defineLayout(NetcdfFile& nc, const GaugeNetcdfJob& job, std::size_t idLength) {
    const auto hours = static_cast<std::size_t>(job.params.days) * 24U;
    const int stationDim = nc.defineDimension("station", job.gauges->size());
    const int timeDim = nc.defineDimension("time", hours);
    const int nameDim = nc.defineDimension("name_strlen", idLength);
    const int nvDim = nc.defineDimension("nv", 2);

    Layout l;
    l.time = results::defineHourAxis(nc, timeDim, nvDim, job.start);
    l.stations = results::defineStations(nc, stationDim, nameDim);
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
    results::putHourAxis(nc, l.time, hours);
    for (std::size_t k = 0; k < gauges.size(); ++k) {
        results::putStation(nc, l.stations, k, gauges[k], snapped[k], idLength);
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
