#pragma once

// Small simulator cases written to a scratch folder: parameters, the four topographic grids
// (given north row first, as one reads a map), the river list and the rainfall file.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace hydro::test {

struct SimCase {
    // Event parameters, in file order.
    std::int32_t studyCols = 5;
    std::int32_t studyRows = 5;
    std::string swLon = "135.0";
    std::string swLat = "35.0";
    std::int32_t rainCols = 2;
    std::int32_t rainRows = 2;
    std::string rainDx = "0.1";
    std::string rainDy = "0.1";
    std::string rainLon0 = "135.0";
    std::string rainLat0 = "35.0";
    std::int32_t days = 1;
    /// The day of January 2000 on which the event starts (its first rain block's header).
    std::int32_t startDay = 1;
    std::int32_t timeStep = 600;
    std::int32_t spaceSteps = 4;
    std::string weight = "0.6";
    std::string manningSlope = "0.6";
    std::string manningChannel = "0.03";
    std::int32_t channelArea = 3;
    std::string initialRunoff = "0.1";

    // Grids, row 0 = north, each row west to east.
    std::vector<float> elevation;
    std::vector<std::int32_t> flowDir;
    std::vector<std::int32_t> flowAcc;
    std::vector<std::int32_t> riverNum;
    std::string riverList = "1 0 0 0 0 0 0.0 0.0\n";
    /// Rain in mm/hr of point (row from the south, column) at day startDay.. of January 2000,
    /// hour index 0..23.
    std::function<float(int day, int hourIndex, int row, int column)> rain =
        [](int, int, int, int) { return 0.0F; };

    [[nodiscard]] std::string parameterText() const;
    /// Writes every input file into `dir` and creates "output/".
    void write(const std::filesystem::path& dir) const;
};

/// Places a rainfall point on the centre of every cell of the study grid (south-west corner at
/// 135 E 35 N, the default), so that each cell takes exactly the rain `rain` gives its own row
/// and column.
void putRainPointOnEveryCell(SimCase& c);

/// A 5 x 5 basin: a confluence of two branches in the interior, every interior cell on
/// river 1, rain falling in hours 2 to 4.
[[nodiscard]] SimCase confluenceCase();

/// Writes a grid given north row first into the file order (south row first).
void writeGridFile(const std::filesystem::path& path, const std::vector<float>& northFirst,
                   std::int32_t rows, std::int32_t cols);
void writeGridFile(const std::filesystem::path& path, const std::vector<std::int32_t>& northFirst,
                   std::int32_t rows, std::int32_t cols);

}  // namespace hydro::test
