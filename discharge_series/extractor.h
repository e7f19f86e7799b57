#pragma once

// The series extractor: asks on the console for one cell of the study grid and writes that
// cell's hourly discharge, read from the simulator's hourly grid, as a two-column text file.

#include <filesystem>
#include <iosfwd>

namespace hydro {

/// Runs the whole dialogue once, as seen from the simulator's output directory `workDir`:
/// reads "../param-event.dat" and "./dischargeHourly.bin" there, asks for a column and a row
/// number on `in`, and writes "./<column>-<row>_discharge.dat" (one line "hour value" per hour,
/// values in single precision printed with 6 significant digits). Progress and every failure
/// go to `console`, each failure in one line.
/// @return the exit status: 0 after the series is written, 1 after a reported failure.
[[nodiscard]] int runDischargeSeries(std::istream& in, std::ostream& console,
                                     const std::filesystem::path& workDir);

}  // namespace hydro
