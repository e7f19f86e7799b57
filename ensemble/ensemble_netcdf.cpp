#include "ensemble/ensemble_netcdf.h"

#include <algorithm>

#include "results/event_time.h"
#include "results/grid_netcdf.h"
#include "results/netcdf_file.h"
#include "results/station_netcdf.h"

namespace hydro::ensemble {

using results::NetcdfFile;
using Type = NetcdfFile::Type;

namespace {

std::size_t longest(const std::vector<std::string>& texts) {
    std::size_t n = 1;
    for (const std::string& t : texts) {
        n = std::max(n, t.size());
    }
    return n;
}

void putLabel(NetcdfFile& nc, int variable, std::size_t k, std::string text, std::size_t length) {
    text.resize(length, '\0');
    nc.put(variable, {k, 0}, {1, length}, text.data());
}

void putGlobals(NetcdfFile& nc, const NetcdfHeader& h, const char* title) {
    constexpr int kGlobalAttr = NetcdfFile::kGlobal;
    nc.text(kGlobalAttr, "Conventions", "CF-1.8");
    nc.text(kGlobalAttr, "title", title);
    nc.text(kGlobalAttr, "source", results::sourceText("ensemble"));
    nc.text(kGlobalAttr, "history", h.history);
    nc.text(kGlobalAttr, "event_start", results::isoHourEnd(h.start, 0));
    results::putEventParameterAttributes(nc, h.params);
    results::putSchemeAttributes(nc, h.scheme);
}

/// Ids of the ensemble file's own variables.
struct Layout {
    results::HourAxisIds time;
    results::StationIds stations;
    int realization = -1;
    int member = -1;
    int rain = -1;
    std::array<int, members::kParameterCount> values{};
    int discharge = -1;
    int crs = -1;
};

/// The variable name and description of each member value.
constexpr std::array<std::array<const char*, 3>, members::kParameterCount> kValueVariables{{
    {"manning_slope", "Manning's roughness coefficient of the slopes", "s m-1/3"},
    {"manning_channel", "Manning's roughness coefficient of the channels", "s m-1/3"},
    {"initial_runoff", "initial runoff", "mm h-1"},
    {"rain_factor", "factor on every rain intensity", "1"},
}};

Layout defineEnsemble(NetcdfFile& nc, const EnsembleNetcdfJob& job, std::size_t idLength) {
    const auto hours = static_cast<std::size_t>(job.header.params.days) * 24U;
    const std::size_t count = job.memberNames->size();
    const int realizationDim = nc.defineDimension("realization", count);
    const int stationDim = nc.defineDimension("station", job.gauges->size());
    const int timeDim = nc.defineDimension("time", hours);
    const int nameDim = nc.defineDimension("name_strlen", idLength);
    const int memberDim = nc.defineDimension("member_strlen", longest(*job.memberNames));
    const int rainDim = nc.defineDimension("rain_strlen", longest(*job.memberRain));
    const int nvDim = nc.defineDimension("nv", 2);

    Layout l;
    l.realization = nc.defineVariable("realization", Type::kInt, {realizationDim});
    nc.text(l.realization, "standard_name", "realization");
    nc.text(l.realization, "long_name", "number of the ensemble member, from 0");
    l.member = nc.defineVariable("member", Type::kChar, {realizationDim, memberDim});
    nc.text(l.member, "long_name", "name of the ensemble member");
    l.rain = nc.defineVariable("rain_source", Type::kChar, {realizationDim, rainDim});
    nc.text(l.rain, "long_name", "rainfall file of the member (case: the case's own)");
    for (std::size_t k = 0; k < members::kParameterCount; ++k) {
        l.values[k] = nc.defineVariable(kValueVariables[k][0], Type::kDouble, {realizationDim});
        nc.text(l.values[k], "long_name", kValueVariables[k][1]);
        nc.text(l.values[k], "units", kValueVariables[k][2]);
    }
    l.time = results::defineHourAxis(nc, timeDim, nvDim, job.header.start);
    l.stations = results::defineStations(nc, stationDim, nameDim);
    l.crs = results::defineCrs(nc);

    l.discharge =
        nc.defineVariable("discharge", Type::kFloat, {realizationDim, stationDim, timeDim});
    nc.number(l.discharge, "_FillValue", results::kNoData);
    nc.text(l.discharge, "units", "m3 s-1");
    nc.text(l.discharge, "standard_name", "water_volume_transport_in_river_channel");
    nc.text(l.discharge, "long_name", "simulated hourly mean discharge at the gauge");
    nc.text(l.discharge, "cell_methods", "time: mean");
    nc.text(l.discharge, "coordinates", "time lat lon station_id realization");
    nc.text(l.discharge, "grid_mapping", "crs");
    nc.compress(l.discharge, {1, 1, hours});

    nc.text(NetcdfFile::kGlobal, "featureType", "timeSeries");
    putGlobals(nc, job.header, "Ensemble of simulated river discharge at gauges");
    nc.endDefinitions();
    return l;
}

void writeEnsembleValues(NetcdfFile& nc, const Layout& l, const EnsembleNetcdfJob& job,
                         std::size_t idLength) {
    const auto hours = static_cast<std::size_t>(job.header.params.days) * 24U;
    const std::size_t count = job.memberNames->size();
    const std::size_t memberLength = longest(*job.memberNames);
    const std::size_t rainLength = longest(*job.memberRain);
    for (std::size_t m = 0; m < count; ++m) {
        const auto number = static_cast<double>(m);
        nc.put(l.realization, {m}, {1}, &number);
        putLabel(nc, l.member, m, (*job.memberNames)[m], memberLength);
        putLabel(nc, l.rain, m, (*job.memberRain)[m], rainLength);
        for (std::size_t k = 0; k < members::kParameterCount; ++k) {
            const double v = (*job.memberValues)[m].get(static_cast<members::Parameter>(k));
            nc.put(l.values[k], {m}, {1}, &v);
        }
    }
    results::putHourAxis(nc, l.time, hours);
    nc.put(l.crs, std::int32_t{0});
    for (std::size_t g = 0; g < job.gauges->size(); ++g) {
        results::putStation(nc, l.stations, g, (*job.gauges)[g], (*job.snapped)[g], idLength);
    }
    for (std::size_t m = 0; m < count; ++m) {
        for (std::size_t g = 0; g < job.gauges->size(); ++g) {
            nc.put(l.discharge, {m, g, 0}, {1, 1, hours}, (*job.series)[m][g].data());
        }
    }
}

Status finish(NetcdfFile& nc, const std::string& name) {
    if (!nc.close()) {
        return Error{name + " cannot be written (" + nc.error() + ")."};
    }
    return success();
}

}  // namespace

Status writeEnsembleNetcdf(const EnsembleNetcdfJob& job) {
    std::size_t idLength = 1;
    for (const results::Gauge& g : *job.gauges) {
        idLength = std::max(idLength, g.id.size());
    }
    NetcdfFile nc;
    if (!nc.create(job.header.file)) {
        return Error{job.header.name + " cannot be created (" + nc.error() + ")."};
    }
    const Layout layout = defineEnsemble(nc, job, idLength);
    writeEnsembleValues(nc, layout, job, idLength);
    return finish(nc, job.header.name);
}

Status writeExceedanceNetcdf(const ExceedanceNetcdfJob& job) {
    const EventParameters& p = job.header.params;
    const auto rows = static_cast<std::size_t>(p.studyRows);
    const auto cols = static_cast<std::size_t>(p.studyCols);
    NetcdfFile nc;
    if (!nc.create(job.header.file)) {
        return Error{job.header.name + " cannot be created (" + nc.error() + ")."};
    }
    const int latDim = nc.defineDimension("lat", rows);
    const int lonDim = nc.defineDimension("lon", cols);
    const results::LatLonIds coordinates = results::defineLatLon(nc, latDim, lonDim);
    const int share = nc.defineVariable("exceedance_probability", Type::kFloat, {latDim, lonDim});
    nc.number(share, "_FillValue", results::kNoData);
    nc.text(share, "long_name",
            "share of ensemble members whose largest hourly mean discharge of the event "
            "exceeds the threshold");
    nc.text(share, "units", "1");
    nc.number(share, "threshold", job.threshold);
    nc.text(share, "threshold_units", "m3 s-1");
    nc.number(share, "ensemble_members", static_cast<std::int32_t>(job.members));
    nc.text(share, "grid_mapping", "crs");
    nc.compress(share, {rows, cols});
    putGlobals(nc, job.header, "Share of ensemble members exceeding a discharge");
    nc.endDefinitions();
    const std::vector<double> lat = results::cellCentres(p.swLat, p.studyRows);
    const std::vector<double> lon = results::cellCentres(p.swLon, p.studyCols);
    nc.put(coordinates.lat, {0}, {lat.size()}, lat.data());
    nc.put(coordinates.lon, {0}, {lon.size()}, lon.data());
    nc.put(share, {0, 0}, {rows, cols}, job.share->data());
    // Written, so that the file holds no bytes left from before.
    nc.put(coordinates.crs, std::int32_t{0});
    return finish(nc, job.header.name);
}

}  // namespace hydro::ensemble
