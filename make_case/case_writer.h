#pragma once

// Writes the terrain half of a case folder: the four topographic grids, the river list, the
// study-grid fields of param-event.dat and the empty input/ and output/image/ folders. The
// files commit together (common/file_transaction.h).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "case/parameter_text.h"
#include "common/result.h"
#include "make_case/terrain_grid.h"

namespace hydro::make_case {

/// One line of riverNumList.dat.
struct RiverRecord {
    std::int32_t number = 0;
    std::int32_t row = 0;  ///< outlet row, 0 = north
    std::int32_t col = 0;  ///< outlet column, 0 = west
    std::int64_t cells = 0;
    std::int64_t channelCells = 0;  ///< flowAcc above the channel threshold
    double lon = 0.0;               ///< outlet cell centre, degrees
    double lat = 0.0;
};

/// Defaults of a new param-event.dat besides the study grid.
inline constexpr std::int32_t kDefaultChannelArea = 50;

/// The text of a new param-event.dat for the grid: a rain grid of 0.1° points covering it,
/// 1 day, 60 s time step, 4 space steps, weight 0.6, Manning 0.6 (slopes) and 0.03 (channels),
/// channel threshold 50 cells, initial runoff 0.1 mm/hr.
[[nodiscard]] std::string defaultParameterText(const GridSpec& gridSpec);

/// `text` (an existing param-event.dat) with its first four values replaced by the study grid,
/// everything else kept byte for byte. Fails ("holds fewer than 4 values.") on a shorter text.
[[nodiscard]] Result<std::string> replaceStudyGrid(const std::string& text,
                                                   const GridSpec& gridSpec);

struct CaseFiles {
    const GridSpec* gridSpec = nullptr;
    std::span<const float> elevation;  ///< row 0 north, as all grids here
    std::span<const std::int8_t> flowDir;
    std::span<const std::int32_t> flowAcc;
    std::span<const std::int32_t> riverNum;
    std::span<const RiverRecord> rivers;
    std::string parameterText;
};

/// Writes every file into `caseDir` in one file transaction: when one cannot be written or
/// put in place, the files that were there before stay untouched. The four grids are written
/// in parallel (each file the same at any thread count). Prints nothing.
[[nodiscard]] Status writeCase(const std::filesystem::path& caseDir, const CaseFiles& files);

/// The river grid and list of a case.
struct RiverFiles {
    std::vector<std::int32_t> riverNum;
    std::vector<RiverRecord> records;
};

/// `writeCase` for files whose `riverNum` and `rivers` are still to be worked out: `label`
/// gives them while the elevation, direction and accumulation grids are being written (on
/// another thread when there is one), and they are written after it. On success, what `label`
/// gave. `label` must not throw but std::bad_alloc, which is passed on once the writing stops.
[[nodiscard]] Result<RiverFiles> writeCaseLabelling(const std::filesystem::path& caseDir,
                                                    const CaseFiles& files,
                                                    const std::function<RiverFiles()>& label);

/// The records of the rivers, with the channel cells counted against `channelArea`.
[[nodiscard]] std::vector<RiverRecord> riverRecords(const GridSpec& gridSpec,
                                                    std::span<const std::int32_t> riverNum,
                                                    std::span<const std::int32_t> flowAcc,
                                                    std::span<const std::int32_t> outletCells,
                                                    std::int32_t channelArea);

}  // namespace hydro::make_case
