#pragma once

// The state of a run at the end of an hour, in a file: everything the time loop carries from
// one hour into the next, so that a run that goes on from it gives the bytes of a run that
// never stopped. The layout is in docs/run-states.md; in short, all little-endian:
//
//   header      magic "HYDSTATE", format version, header length, what the state was computed
//               from (grid shape and corner, SHA-256 of the river list and the four
//               topographic grids, scheme, time step, space steps, channel threshold, weight,
//               both Manning values), the state's time (seconds since 1970 and ISO 8601 UTC),
//               the counts of cells, values per cell and rivers, and the run it belongs to
//               (event start, hours run, days, state interval, SHA-256 of the rainfall, the
//               first value that was not finite); in version 2 then the channel width law
//   rivers      per river its water so far (exact volumes), for the run's water balance
//   cells       the frame position of every routed cell, ascending (int32, padded to 8 bytes)
//   values      per cell, spaceSteps + 1 node states and the lateral inflow of the last hour
//               (m²/s), as doubles
//   checksum    CRC-32C of every byte before it
//
// A state is of the basin, not of the way a run was spread over threads or ranks.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "case/case.h"
#include "case/channel_width.h"
#include "common/digest.h"
#include "common/exact_volume.h"
#include "common/file_transaction.h"
#include "common/result.h"

namespace hydro {

/// The format of a state of the model's channel width law; a state of another law takes
/// kWidthStateVersion, whose header adds the law. Both are read.
inline constexpr std::uint32_t kStateVersion = 1;
inline constexpr std::uint32_t kWidthStateVersion = 2;

/// The files a state's digests identify, in the order they are held.
inline constexpr std::array<const char*, 5> kStateDigestNames{
    "riverNumList.dat", "modDem.bin", "flowDir.bin", "flowAcc.bin", "riverNum.bin"};

/// What a state was computed from. A run goes on from a state only when all of it matches.
struct StateOrigin {
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    float swLon = 0.0F;
    float swLat = 0.0F;
    std::array<Sha256Digest, 5> digests{};  ///< of the files of kStateDigestNames
    std::uint32_t scheme = 0;               ///< 0 the linear scheme, 1 the conservative one
    std::int32_t timeStep = 0;
    std::int32_t spaceSteps = 0;
    std::int32_t channelArea = 0;
    double weight = 0.0;
    double manningSlope = 0.0;
    double manningChannel = 0.0;
    ChannelWidthLaw channelWidth;  ///< the model's in every state of format version 1
};

/// One river's water from the start of the run to the state, m³.
struct StateRiver {
    std::int32_t number = 0;
    std::int64_t cells = 0;
    ExactVolume rain;
    ExactVolume leaving;
    ExactVolume toOtherRivers;
    ExactVolume inflow;
    ExactVolume initialStorage;
};

/// The run a state belongs to, for resuming it.
struct StateRun {
    std::int64_t eventStart = 0;  ///< seconds since 1970-01-01T00:00:00Z
    std::int64_t hoursRun = 0;    ///< hours of the run up to the state
    std::int32_t days = 0;        ///< of the whole run
    std::int32_t stateEvery = 0;  ///< hours between states, 0 when none were asked for
    std::int32_t keepStates = 0;  ///< states kept, 0 for all
    Sha256Digest rain{};          ///< of the run's rainfall file
    std::int64_t nonFiniteCount = 0;
    std::int64_t firstNonFinitePosition = -1;
    std::int32_t firstNonFiniteDay = 0;
    std::int32_t firstNonFiniteHour = 0;
    std::vector<StateRiver> rivers;
};

struct RunState {
    StateOrigin origin;
    std::int64_t time = 0;  ///< the end of the last hour run, seconds since 1970
    /// Frame positions (row-major from the south-west) of the routed cells, ascending.
    std::vector<std::int32_t> positions;
    /// Per cell of `positions`, valuesPerCell() values: the node states, then the lateral
    /// inflow of the last hour.
    std::vector<double> values;
    StateRun run;

    [[nodiscard]] std::size_t valuesPerCell() const {
        return static_cast<std::size_t>(origin.spaceSteps) + 2U;
    }
};

/// The ISO 8601 UTC text of `unixSeconds`, e.g. "2022-10-18T05:00:00Z".
[[nodiscard]] std::string stateTimeText(std::int64_t unixSeconds);

/// The scheme's name for a StateOrigin::scheme value ("linear", "conservative").
[[nodiscard]] const char* stateSchemeName(std::uint32_t scheme);

/// Writes `state` to `target` under a temporary name and puts it in place once complete. The
/// error names the file.
[[nodiscard]] Status writeState(const std::filesystem::path& target, const RunState& state);
/// The same as part of `files`: written under its temporary name, put in place by the commit
/// of the transaction.
[[nodiscard]] Status writeState(FileTransaction& files, const std::filesystem::path& target,
                                const RunState& state);

/// Reads a state file completely, checking its layout, sizes and checksum. Errors name the file
/// ("<name> is not a state file.", "... is truncated or corrupted.", ...).
[[nodiscard]] Result<RunState> readState(const std::filesystem::path& path);

/// The origin of a run of the case at `paths` with parameters `params` and `scheme`: reads
/// and digests the river list and the four topographic grids.
[[nodiscard]] Result<StateOrigin> stateOriginOf(const CasePaths& paths,
                                                const EventParameters& params,
                                                std::uint32_t scheme);

/// Success when a state of origin `state` (in the file named `name`) fits a run of origin
/// `run`; otherwise the line that names the first thing that differs.
[[nodiscard]] Status checkStateOrigin(const std::string& name, const StateOrigin& state,
                                      const StateOrigin& run);

}  // namespace hydro
