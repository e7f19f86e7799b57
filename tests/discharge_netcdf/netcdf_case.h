#pragma once

// A case folder for the NetCDF conversion: parameters and rain.dat of a flat grid.

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::test {

/// A case folder with parameters and rain.dat for `days` days on a `cols` x `rows` grid, the
/// rain file's first header replaced by `header`.
inline void writeCase(const std::filesystem::path& dir, std::int32_t cols, std::int32_t rows,
                      std::int32_t days, const std::string& header) {
    SimCase c;
    c.studyCols = cols;
    c.studyRows = rows;
    c.days = days;
    c.swLon = "-118.343";
    c.swLat = "34.2314";
    const auto n = static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows);
    c.elevation.assign(n, 10.0F);
    c.flowDir.assign(n, 5);
    c.flowAcc.assign(n, 1);
    c.riverNum.assign(n, 1);
    c.write(dir);
    std::string rain = readText(dir / "input" / "rain.dat");
    rain.replace(0, rain.find('\n'), header);
    writeText(dir / "input" / "rain.dat", rain);
}

}  // namespace hydro::test
