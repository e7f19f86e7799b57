#include "tests/runoff_sim/case_builder.h"

#include <sstream>

#include "tests/support/test_support.h"

namespace hydro::test {

namespace {

template <class T>
std::vector<T> toFileOrder(const std::vector<T>& northFirst, std::int32_t rows, std::int32_t cols) {
    std::vector<T> out;
    out.reserve(northFirst.size());
    for (std::int32_t r = rows - 1; r >= 0; --r) {
        for (std::int32_t c = 0; c < cols; ++c) {
            out.push_back(northFirst[static_cast<std::size_t>(r * cols + c)]);
        }
    }
    return out;
}

}  // namespace

void writeGridFile(const std::filesystem::path& path, const std::vector<float>& northFirst,
                   std::int32_t rows, std::int32_t cols) {
    writeFloats(path, toFileOrder(northFirst, rows, cols));
}

void writeGridFile(const std::filesystem::path& path, const std::vector<std::int32_t>& northFirst,
                   std::int32_t rows, std::int32_t cols) {
    writeInt32s(path, toFileOrder(northFirst, rows, cols));
}

std::string SimCase::parameterText() const {
    std::ostringstream s;
    s << studyCols << ' ' << studyRows << '\n'
      << swLon << ' ' << swLat << '\n'
      << rainCols << ' ' << rainRows << '\n'
      << rainDx << ' ' << rainDy << '\n'
      << rainLon0 << ' ' << rainLat0 << '\n'
      << days << '\n'
      << timeStep << '\n'
      << spaceSteps << '\n'
      << weight << '\n'
      << manningSlope << '\n'
      << manningChannel << '\n'
      << channelArea << '\n'
      << initialRunoff << '\n';
    return s.str();
}

void SimCase::write(const std::filesystem::path& dir) const {
    writeText(dir / "param-event.dat", parameterText());
    writeGridFile(dir / "topoData" / "modDem.bin", elevation, studyRows, studyCols);
    writeGridFile(dir / "topoData" / "flowDir.bin", flowDir, studyRows, studyCols);
    writeGridFile(dir / "topoData" / "flowAcc.bin", flowAcc, studyRows, studyCols);
    writeGridFile(dir / "topoData" / "riverNum.bin", riverNum, studyRows, studyCols);
    writeText(dir / "topoData" / "riverNumList.dat", riverList);
    std::ostringstream r;
    for (int day = startDay; day < startDay + days; ++day) {
        for (int h = 0; h < 24; ++h) {
            r << "2000 1 " << day << ' ' << h << " 0 0\n";
            for (int row = rainRows - 1; row >= 0; --row) {
                for (int c = 0; c < rainCols; ++c) {
                    r << rain(day, h, row, c) << (c + 1 < rainCols ? ' ' : '\n');
                }
            }
        }
    }
    writeText(dir / "input" / "rain.dat", r.str());
    std::filesystem::create_directories(dir / "output");
}

void putRainPointOnEveryCell(SimCase& c) {
    // Cell centres lie 15 arc-seconds inside the cell's south-west corner, 30 apart.
    c.rainCols = c.studyCols;
    c.rainRows = c.studyRows;
    c.rainDx = "0.008333333333";
    c.rainDy = "0.008333333333";
    c.rainLon0 = "135.004166666667";
    c.rainLat0 = "35.004166666667";
}

SimCase confluenceCase() {
    SimCase c;
    // North row first. The interior 3 x 3 drains to the centre-south cell (row 3, col 2),
    // which drains south out of the interior into a border cell.
    c.elevation = {
        50, 50, 50, 50, 50,  //
        50, 30, 28, 26, 50,  //
        50, 20, 18, 15, 50,  //
        50, 12, 10, 8,  50,  //
        50, 50, 5,  50, 50,  //
    };
    c.flowDir = {
        5, 5, 5, 5, 5,  //
        5, 4, 5, 6, 5,  //
        5, 4, 5, 6, 5,  //
        5, 3, 5, 7, 5,  //
        5, 5, 5, 5, 5,  //
    };
    c.flowAcc = {
        1, 1, 1,  1, 1,  //
        1, 1, 1,  1, 1,  //
        1, 2, 4,  2, 1,  //
        1, 3, 9,  3, 1,  //
        1, 1, 10, 1, 1,  //
    };
    c.riverNum = std::vector<std::int32_t>(25, 1);
    c.rain = [](int, int h, int row, int col) {
        return (h >= 1 && h <= 3) ? 4.0F + static_cast<float>(row + col) : 0.0F;
    };
    return c;
}

}  // namespace hydro::test
