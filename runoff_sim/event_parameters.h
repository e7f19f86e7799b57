#pragma once

// The event parameter file "./param-event.dat": the study grid, the rainfall grid, the
// duration, the finite-difference and kinematic-wave settings and the initial runoff.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace hydro::runoff {

struct EventParameters {
    std::int32_t studyCols = 0;  ///< study grid columns, west to east
    std::int32_t studyRows = 0;  ///< study grid rows, south to north
    float swLon = 0.0F;          ///< outer south-west corner of the study grid, degrees
    float swLat = 0.0F;
    std::int32_t rainCols = 0;  ///< rainfall points west to east
    std::int32_t rainRows = 0;  ///< rainfall points south to north
    float rainDx = 0.0F;        ///< spacing of the rainfall points in longitude, degrees
    float rainDy = 0.0F;        ///< spacing in latitude, degrees
    float rainLon0 = 0.0F;      ///< centre of the south-west rainfall point, degrees
    float rainLat0 = 0.0F;
    std::int32_t days = 0;             ///< simulation duration in whole days
    std::int32_t timeStep = 0;         ///< finite-difference time step, s
    std::int32_t spaceSteps = 0;       ///< finite-difference space steps across one cell
    double weight = 0.0;               ///< finite-difference weighting factor
    double manningSlope = 0.0;         ///< Manning roughness of slope cells
    double manningChannel = 0.0;       ///< Manning roughness of channel cells
    std::int32_t channelArea = 0;      ///< flow accumulation above which a cell is a channel
    double initialRunoff = 0.0;        ///< initial runoff height, mm/hr
    std::int32_t subStepsPerHour = 0;  ///< 3600 / timeStep in integer division
};

/// Prints "Reading parameters for runoff simulation.", then reads and echoes the 18 values of
/// `path`. Prints "param-event.dat cannot open." when the file cannot be opened, and one line
/// naming the value when a value is missing, malformed or out of range; returns nothing then.
[[nodiscard]] std::optional<EventParameters> readEventParameters(const std::filesystem::path& path,
                                                                 std::ostream& console);

/// Grids are addressed with 32-bit indices and every byte count must fit 64 bits: says what is
/// too large (one line naming param-event.dat), or nothing when the grids can be sized.
[[nodiscard]] std::optional<std::string> gridSizeProblem(const EventParameters& p);

}  // namespace hydro::runoff
