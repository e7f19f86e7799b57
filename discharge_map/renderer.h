#pragma once

// The map renderer's main sequence: reads the first eleven event parameters and the hourly
// discharge grid, settles the colour bounds (typed on the console or found in the file) and
// writes one PPM image per hour into "./image/".

#include <filesystem>
#include <istream>
#include <ostream>

namespace hydro {

/// Runs the renderer in `workDir` (the simulator's output directory): "../param-event.dat",
/// "./dischargeHourly.bin" and "./image/" are taken relative to it, and printed as those fixed
/// texts. Answers are read from `in`, everything is printed on `out`. `workers` is the number
/// of images made at once (0: one per OpenMP thread); the console text and the files written
/// are the same for every value. Returns the exit status: 0 after the last image, 1 after a
/// reported failure. An image output above kLargeImageOutputBytes is announced on `notes`
/// (standard error in the program, apart from the prescribed console) before it is written.
[[nodiscard]] int runDischargeMap(std::istream& in, std::ostream& out,
                                  const std::filesystem::path& workDir, int workers = 0,
                                  std::ostream* notes = nullptr);

}  // namespace hydro
