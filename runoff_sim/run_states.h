#pragma once

// The states of a run: the warm start it begins from, the interrupted run it goes on with, and
// the states it writes on the way. Everything a run takes from a state is checked before any
// output file is touched.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "case/run_state.h"
#include "common/result.h"
#include "routing/river_totals.h"
#include "runoff_sim/discharge_output.h"
#include "runoff_sim/simulation.h"

namespace hydro::runoff {

/// What the run's states share: its origin and event, and where they go.
struct StateContext {
    StateOrigin origin;
    std::int64_t eventStart = 0;  ///< seconds since 1970
    Sha256Digest rain{};          ///< of the run's rainfall file
    std::int32_t days = 0;
    std::filesystem::path dir;  ///< of the states every `every` hours
    std::int32_t every = 0;
    std::int32_t keep = 0;  ///< 0 keeps all
};

/// A warm start's state from `path`, checked against the run: readable and sound, of the same
/// origin, taken when the run's event starts.
[[nodiscard]] Result<RunState> readWarmStart(const std::filesystem::path& path,
                                             const StateContext& run);

/// The newest state in `dir` to resume the run from: of this run (origin, event start, days,
/// rainfall) and of an hour that the output grids hold every frame of (`hoursOnDisk`). A state
/// file that cannot be read or is damaged is passed over (`passedOver` names them); a state of
/// another run is refused. None when no state fits.
struct ResumePoint {
    std::filesystem::path file;
    RunState state;
};
[[nodiscard]] Result<std::optional<ResumePoint>> findResumeState(
    const std::filesystem::path& dir, const StateContext& run, std::int64_t hoursOnDisk,
    std::vector<std::string>& passedOver);

/// The file of the state every `every` hours at `time`: dir/state_<ISO 8601 UTC>.bin.
[[nodiscard]] std::filesystem::path periodicStatePath(const std::filesystem::path& dir,
                                                      std::int64_t time);

/// The state file contents of `basin`: the run's totals are `baseline` (cells, initial storage
/// and what went before a resumed run) plus the basin's own.
[[nodiscard]] RunState runStateOf(const StateContext& run, BasinState&& basin,
                                  const std::vector<std::int32_t>& riverNumbers,
                                  const std::vector<RiverTotals>& baseline,
                                  const NonFiniteTally& nonFinite);

/// Writes a state of the run's series into its folder and removes the oldest beyond `keep`.
[[nodiscard]] Status writePeriodicState(const StateContext& run, const RunState& state);

/// The totals a resumed run starts from: per river of `riverNumbers`, the state's.
[[nodiscard]] Result<std::vector<RiverTotals>> totalsOfState(
    const std::string& name, const RunState& state, const std::vector<std::int32_t>& riverNumbers);

}  // namespace hydro::runoff
