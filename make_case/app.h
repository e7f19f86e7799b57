#pragma once

// make_case: builds the terrain of a case folder from a DEM (`terrain`), its hourly rain from a
// rainfall product (`rain`, make_case/rain_case.h) and validates a case folder (`check`). The
// `run*` entry functions are the program's edge: they print the console lines and the one error
// line on `out`, stage lines on `progress`, and return the exit status; everything below them
// returns its failures as values.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace hydro::make_case {

enum class FlowDirCoding { kEsri, kModel };

struct TerrainOptions {
    std::filesystem::path dem;
    std::filesystem::path caseDir;
    std::optional<std::array<double, 4>> bbox;
    std::optional<std::string> demCrs;
    std::int32_t minBasinCells = 100;
    std::optional<std::filesystem::path> outlets;
    std::int32_t snapRadius = 1;
    std::optional<std::filesystem::path> flowDir;
    std::optional<FlowDirCoding> flowDirCoding;
    std::optional<std::filesystem::path> flowAcc;
};

/// Grids above this many cells report their stages on the progress stream.
inline constexpr std::int64_t kProgressCells = 10'000'000;

/// Runs `make_case terrain` with parsed options.
[[nodiscard]] int runTerrain(const TerrainOptions& options, std::ostream& out,
                             std::ostream& progress);

/// The whole command line (without the program name).
[[nodiscard]] int runMakeCase(const std::vector<std::string>& args, std::ostream& out,
                              std::ostream& progress);

/// Maps ESRI D8 codes (1 east, 2 south-east, 4 south ... 128 north-east) to the simulator's
/// (1 north, clockwise to 8 north-west); any other value gives 0.
[[nodiscard]] std::int8_t esriToModel(std::int32_t esri);

}  // namespace hydro::make_case
