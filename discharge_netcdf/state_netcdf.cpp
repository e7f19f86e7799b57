#include "discharge_netcdf/state_netcdf.h"

#include <span>

#include "common/file_transaction.h"
#include "physics/cell_storage.h"
#include "physics/kinematic_wave.h"
#include "results/grid_netcdf.h"

namespace hydro::results {

namespace {

constexpr double kFill = static_cast<double>(kNoData);

}  // namespace

StateGrids stateGrids(const RunState& state, const CaseData& data) {
    const EventParameters& p = data.params;
    const runoff::RoutingParameters routing = runoff::routingParametersOf(p);
    const bool conservative = state.origin.scheme == 1;
    const auto cells = static_cast<std::size_t>(data.grid.cellCount());
    StateGrids g{std::vector<double>(cells, kFill), std::vector<double>(cells, kFill),
                 std::vector<double>(cells, kFill)};
    const std::size_t perCell = state.valuesPerCell();
    for (std::size_t c = 0; c < state.positions.size(); ++c) {
        const std::int32_t position = state.positions[c];
        const GridCell& cell = data.grid[data.grid.indexOfFilePosition(position)];
        const GridCell* downstream =
            cell.downstream == kNoCell ? nullptr : &data.grid[cell.downstream];
        const runoff::RoutingSetup setup = runoff::setupRouting(cell, downstream, routing);
        const std::span<const double> values(state.values.data() + c * perCell, perCell);
        const std::span<const double> nodes = values.first(perCell - 1);
        const auto at = static_cast<std::size_t>(position);
        g.discharge[at] = runoff::outletDischarge(conservative, setup.alpha, nodes);
        g.storage[at] = runoff::cellStorage(conservative, setup.dx, setup.alpha, nodes);
        g.lateralInflow[at] = values.back();
    }
    return g;
}

namespace {

using Type = NetcdfFile::Type;

struct StateLayout {
    int time = -1;
    int lat = -1;
    int lon = -1;
    int discharge = -1;
    int storage = -1;
    int lateralInflow = -1;
};

/// A grid variable of the state on (lat, lon), at the scalar time.
int defineGrid(NetcdfFile& nc, const StateNetcdfJob& job, const char* name,
               const std::string& longName, const char* units, std::initializer_list<int> dims,
               std::size_t rows, std::size_t cols) {
    const int var = nc.defineVariable(name, Type::kDouble, dims);
    nc.number(var, "_FillValue", kFill);
    nc.text(var, "long_name", longName);
    nc.text(var, "units", units);
    nc.text(var, "coordinates", "time");
    nc.text(var, "grid_mapping", "crs");
    nc.compress(var, {rows, cols}, job.deflateLevel);
    return var;
}

StateLayout defineStateLayout(NetcdfFile& nc, const StateNetcdfJob& job, const RunState& state,
                              const EventParameters& p) {
    const auto rows = static_cast<std::size_t>(p.studyRows);
    const auto cols = static_cast<std::size_t>(p.studyCols);
    const int latDim = nc.defineDimension("lat", rows);
    const int lonDim = nc.defineDimension("lon", cols);
    StateLayout l;
    l.time = nc.defineVariable("time", Type::kDouble, {});
    nc.text(l.time, "standard_name", "time");
    nc.text(l.time, "long_name", "time of the state: the end of the last hour run");
    nc.text(l.time, "units", "seconds since 1970-01-01 00:00:00");
    nc.text(l.time, "calendar", "standard");
    const results::LatLonIds coordinates = results::defineLatLon(nc, latDim, lonDim);
    l.lat = coordinates.lat;
    l.lon = coordinates.lon;

    l.discharge = defineGrid(nc, job, "discharge", "discharge at the outlet of the cell", "m3 s-1",
                             {latDim, lonDim}, rows, cols);
    nc.text(l.discharge, "standard_name", "water_volume_transport_in_river_channel");
    l.storage = defineGrid(nc, job, "storage", "water held in the channel of the cell", "m3",
                           {latDim, lonDim}, rows, cols);
    l.lateralInflow = defineGrid(nc, job, "lateral_inflow",
                                 "lateral inflow per metre of flow path over the last hour",
                                 "m2 s-1", {latDim, lonDim}, rows, cols);

    constexpr int kGlobalAttr = NetcdfFile::kGlobal;
    nc.text(kGlobalAttr, "Conventions", "CF-1.8");
    nc.text(kGlobalAttr, "title", "State of a surface runoff simulation at the end of an hour");
    nc.text(kGlobalAttr, "source", sourceText("discharge_netcdf"));
    nc.text(kGlobalAttr, "history", job.history);
    nc.text(kGlobalAttr, "state_file", job.stateName);
    nc.text(kGlobalAttr, "state_time", stateTimeText(state.time));
    putSchemeAttributes(nc, std::string(stateSchemeName(state.origin.scheme)));
    putEventParameterAttributes(nc, p);
    nc.endDefinitions();
    return l;
}

Status writeStateFile(const std::filesystem::path& path, const StateNetcdfJob& job,
                      const RunState& state, const CaseData& data) {
    const std::string name = job.target.filename().string();
    NetcdfFile nc;
    if (!nc.create(path)) {
        return Error{name + " cannot be created (" + nc.error() + ")."};
    }
    const EventParameters& p = data.params;
    const StateLayout l = defineStateLayout(nc, job, state, p);
    const auto time = static_cast<double>(state.time);
    nc.put(l.time, {}, {}, &time);
    const std::vector<double> lat = cellCentres(p.swLat, p.studyRows);
    const std::vector<double> lon = cellCentres(p.swLon, p.studyCols);
    nc.put(l.lat, {0}, {lat.size()}, lat.data());
    nc.put(l.lon, {0}, {lon.size()}, lon.data());
    const StateGrids g = stateGrids(state, data);
    const auto rows = static_cast<std::size_t>(p.studyRows);
    const auto cols = static_cast<std::size_t>(p.studyCols);
    nc.put(l.discharge, {0, 0}, {rows, cols}, g.discharge.data());
    nc.put(l.storage, {0, 0}, {rows, cols}, g.storage.data());
    nc.put(l.lateralInflow, {0, 0}, {rows, cols}, g.lateralInflow.data());
    if (!nc.close()) {
        return Error{name + " cannot be written (" + nc.error() + ")."};
    }
    return success();
}

}  // namespace

Status writeStateNetcdf(const StateNetcdfJob& job, const RunState& state, const CaseData& data) {
    FileTransaction files;
    if (auto written = writeStateFile(files.add(job.target), job, state, data); !written) {
        return written;
    }
    return files.commit();
}

}  // namespace hydro::results
