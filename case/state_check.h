#pragma once

// A state file held against a case: every way a run of the case could not go on from it. The
// tools that inspect a state (`make_case check --state`, `discharge_netcdf --state`) ask the
// same questions through this one function, so that what one accepts the other accepts.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "case/case.h"
#include "case/run_state.h"
#include "common/result.h"

namespace hydro {

/// The frame positions of the cells a run of the case routes (isRouted), ascending: the cells
/// a state of the case holds.
[[nodiscard]] std::vector<std::int32_t> routedPositions(const StudyGrid& grid,
                                                        const RiverList& rivers);

/// Every way `state` (read from the file `name`) does not fit a run of origin `run` that
/// routes the cells at `routed` (ascending frame positions), one line each naming the file:
/// the first setting of the origin that differs; on the same grid, the routed cells the state
/// lacks and the cells it holds that the run does not route; node states or lateral inflows
/// that are not finite; node states below zero. Empty when the state fits.
[[nodiscard]] std::vector<std::string> stateMisfits(const std::string& name, const RunState& state,
                                                    const StateOrigin& run,
                                                    std::span<const std::int32_t> routed);

/// stateMisfits of `state` (read from the file `name`) against a run of the case `data` in
/// `root` with `scheme` (StateOrigin::scheme). The error: a file of the case cannot be
/// digested (stateOriginOf).
[[nodiscard]] Result<std::vector<std::string>> stateMisfitsInCase(const std::filesystem::path& root,
                                                                  const CaseData& data,
                                                                  const std::string& name,
                                                                  const RunState& state,
                                                                  std::uint32_t scheme);

/// A state, the case it was checked against and what does not fit.
struct StateCheck {
    RunState state;
    CaseData data;
    std::uint32_t scheme = 0;          ///< the scheme the state was checked against
    std::vector<std::string> misfits;  ///< stateMisfits; empty when the state fits
};

/// Reads the state file `statePath` and the case in `root` and holds the one against the
/// other under `scheme` (StateOrigin::scheme) and `channelWidth`, or the state's own scheme
/// and width law when none is given; the result's case data take the law held against.
/// The error: the state or the case cannot be read (readState, readCase, stateOriginOf).
[[nodiscard]] Result<StateCheck> checkStateAgainstCase(
    const std::filesystem::path& root, const std::filesystem::path& statePath,
    std::optional<std::uint32_t> scheme,
    std::optional<ChannelWidthLaw> channelWidth = std::nullopt);

}  // namespace hydro
