#pragma once

// The simulator ends a run whose discharge is not finite with status 1 (its grids are still
// written, for the search of the cause), so a value that is not finite means a failed run or a
// damaged file; the result tools refuse it rather than pass it on into their tables and files.

#include <cstdint>
#include <optional>
#include <string>

#include "case/grid_shape.h"
#include "common/result.h"

namespace hydro::results {

/// The error for `value` of frame `frame` (from 0) at file position `position` of the grid
/// file `fileName` when the value is NaN or infinite; nothing when it is finite. `frameUnit`
/// names the frames ("hour", "day"); the line names the frame from 1 and the cell as the user
/// counts it: "dischargeHourly.bin holds NaN in hour 3 at column 2, row 5: the run ...".
[[nodiscard]] std::optional<Error> nonFiniteDischarge(const std::string& fileName,
                                                      const char* frameUnit, const GridShape& shape,
                                                      std::uint64_t frame, std::int64_t position,
                                                      float value);

}  // namespace hydro::results
