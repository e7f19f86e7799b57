#pragma once

// `discharge_netcdf CASE --state FILE OUT.nc`: a state of runoff_sim as a CF-NetCDF file for
// inspection, on the latitude and longitude axes of the tool's other output: the discharge at
// each routed cell's outlet, the water its channel holds and its lateral inflow of the last
// hour, at the state's time.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "case/case.h"
#include "case/run_state.h"
#include "common/result.h"
#include "results/netcdf_file.h"

namespace hydro::results {

/// The grids of a state, in frame order (south row first, each row from the west); cells the
/// state does not hold are kNoData.
struct StateGrids {
    std::vector<double> discharge;      ///< m³/s at each cell's outlet
    std::vector<double> storage;        ///< m³ in each cell's channel
    std::vector<double> lateralInflow;  ///< m²/s over the last hour
};

/// The grids of `state`, whose cells all lie in `data` (a state that fits the case: see
/// case/state_check.h), with each cell's hydraulic constants as the simulator derives them.
[[nodiscard]] StateGrids stateGrids(const RunState& state, const CaseData& data);

struct StateNetcdfJob {
    std::filesystem::path target;  ///< the NetCDF file to write (under a temporary name)
    std::string stateName;         ///< the state file's name, for the attributes
    std::string history;           ///< the `history` attribute
    int deflateLevel = kDeflateLevel;
};

/// Writes the file of `state` (which fits `data`) under a temporary name beside `job.target`
/// and puts it in place only once it is complete. The error is the one line that says what
/// went wrong.
[[nodiscard]] Status writeStateNetcdf(const StateNetcdfJob& job, const RunState& state,
                                      const CaseData& data);

}  // namespace hydro::results
