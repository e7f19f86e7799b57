#pragma once

// The first eleven event parameters as the two post-processors read them ("../param-event.dat"
// seen from the simulator's output directory): every real kept at double precision.

#include <cstdint>
#include <filesystem>
#include <ostream>

namespace hydro {

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

/// The map renderer prints the two group headings before the study-area and input-data lines
/// and an empty line after the duration; the series extractor prints neither.
enum class EchoStyle { kMap, kSeries };

enum class ParameterStatus { kOk, kCannotOpen, kBadValue };

/// Prints "Reading parameters for runoff simulation.", opens `path` and reads and echoes the
/// first eleven values. When the file cannot be opened it prints "param-event.dat cannot open."
/// and returns kCannotOpen (the caller adds what follows); a value that is missing, not wholly
/// a number of its kind, or a negative grid size or duration is reported in one line and gives
/// kBadValue.
[[nodiscard]] ParameterStatus readOutputParameters(const std::filesystem::path& path,
                                                   std::ostream& console, EchoStyle style,
                                                   OutputParameters& params);

}  // namespace hydro
