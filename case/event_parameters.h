#pragma once

// The event parameter file "param-event.dat": the study grid, the rainfall grid, the duration,
// the finite-difference and kinematic-wave settings and the initial runoff. One tokenizer and
// one table of values serve every program: the simulator reads all 18 values, the two
// post-processors the first 11 (a file that ends after value 11 serves them fully).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>

#include "case/channel_width.h"
#include "common/result.h"

namespace hydro {

/// The 18 values as the simulator holds them.
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
    double weight = 0.0;               ///< finite-difference weighting factor, 0 to 1
    double manningSlope = 0.0;         ///< Manning roughness of slope cells, s m^-1/3
    double manningChannel = 0.0;       ///< Manning roughness of channel cells, s m^-1/3
    std::int32_t channelArea = 0;      ///< flow accumulation above which a cell is a channel
    double initialRunoff = 0.0;        ///< initial runoff height, mm/hr
    std::int32_t subStepsPerHour = 0;  ///< 3600 / timeStep in integer division
    /// Not in the file: the model's law unless the command line of a run names another.
    ChannelWidthLaw channelWidth;
};

/// The first 11 values as the post-processors hold them: every real at double precision.
struct OutputParameters {
    std::int32_t studyCols = 0;
    std::int32_t studyRows = 0;
    double swLon = 0.0;
    double swLat = 0.0;
    std::int32_t rainCols = 0;
    std::int32_t rainRows = 0;
    double rainDx = 0.0;
    double rainDy = 0.0;
    double rainLon0 = 0.0;
    double rainLat0 = 0.0;
    std::int32_t days = 0;
};

/// Reads the 18 values of `path`. With `echo`, prints "Reading parameters for runoff
/// simulation." and echoes every group of values as it is read (the simulator's console
/// text). A file that cannot be opened gives "param-event.dat cannot open." (kCannotOpen); a
/// value that is missing, not wholly a number of its kind or out of its range gives one line
/// naming the value.
[[nodiscard]] Result<EventParameters> readEventParameters(const std::filesystem::path& path,
                                                          std::ostream* echo = nullptr);

/// The map renderer prints the two group headings before the study-area and input-data lines
/// and an empty line after the duration; the series extractor prints neither.
enum class EchoStyle { kMap, kSeries };

/// Reads the first 11 values of `path` as the post-processors do, echoing them in `style`.
/// Counts and the duration may be 0; nothing after value 11 is read.
[[nodiscard]] Result<OutputParameters> readOutputParameters(const std::filesystem::path& path,
                                                            std::ostream* echo, EchoStyle style);

/// Grids are addressed with 32-bit indices and every byte count must fit 64 bits: says what is
/// too large (one line naming param-event.dat), or nothing when the grids can be sized.
[[nodiscard]] Status checkGridSize(const EventParameters& p);

/// Every row must lie on the globe (its latitude sets the cell width): the study grid from
/// its south edge `swLat` to its north edge must lie from -90 to 90 degrees.
[[nodiscard]] Status checkLatitudes(const EventParameters& p);

/// True when 3600 s is a whole number of time steps; otherwise every simulated hour is
/// subStepsPerHour x timeStep seconds long, a little shorter than an hour.
[[nodiscard]] inline bool stepsFillTheHour(const EventParameters& p) {
    return p.timeStep > 0 && 3600 % p.timeStep == 0;
}

}  // namespace hydro
