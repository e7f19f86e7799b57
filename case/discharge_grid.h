#pragma once

// The simulator's discharge grids ("output/dischargeHourly.bin" and the two daily grids):
// frames of rows x columns single-precision values, rows from the south, -9999 where a cell
// has no discharge.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "case/grid_shape.h"
#include "common/raw_grid_io.h"
#include "common/result.h"

namespace hydro {

/// The no-data value of the output grids.
inline constexpr float kNoDischarge = -9999.0F;

/// A file of `fileBytes` bytes must hold whole frames of `shape`: otherwise it was written for
/// another grid, and reading it would mix rows. The error names `name`.
[[nodiscard]] Status checkWholeFrames(const std::string& name, std::uint64_t fileBytes,
                                      const GridShape& shape);

/// Random access to the frames of one discharge grid.
class DischargeGrid {
public:
    /// Opens `path`, whose frames have `shape`, and checks that it holds whole frames, at least
    /// `framesNeeded` of them (more are fine: a longer run's output). Errors name the file.
    [[nodiscard]] Status open(const std::filesystem::path& path, const GridShape& shape,
                              std::uint64_t framesNeeded);

    [[nodiscard]] std::uint64_t frames() const { return frames_; }
    [[nodiscard]] const GridShape& shape() const { return shape_; }

    /// Frame `frame` (from 0) in file order: rows from the south, each row from the west.
    [[nodiscard]] Status readFrame(std::uint64_t frame, std::span<float> out);
    /// `out.size()` values of frame `frame` from file position `position` on (rows from the
    /// south, each row from the west), which must lie within the frame.
    [[nodiscard]] Status readValues(std::uint64_t frame, std::uint64_t position,
                                    std::span<float> out);
    /// The value of the cell at file position `position` in frames 0..count-1.
    [[nodiscard]] Result<std::vector<float>> readCellSeries(std::int64_t position,
                                                            std::uint64_t count);

private:
    [[nodiscard]] Error readError() const;

    RawValueReader reader_;
    std::string name_;
    GridShape shape_;
    std::uint64_t frames_ = 0;
};

}  // namespace hydro
