#include "runoff_sim/drainage_network.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/console.h"
#include "common/raw_grid_io.h"

namespace hydro::runoff {

namespace {

constexpr std::size_t kChunkValues = std::size_t{1} << 16U;

/// Reads the next `want` values of a grid file; on a short file prints how many values it
/// holds and how many the grid needs.
template <class T>
bool readChunk(RawValueReader& reader, const char* name, std::span<T> out, std::int64_t before,
               std::int64_t needed, std::ostream& console) {
    const std::size_t got = reader.read(out);
    if (got < out.size()) {
        sayLine(console, name, " holds ", before + static_cast<std::int64_t>(got),
                " values, but the study grid needs ", needed, ".");
        return false;
    }
    return true;
}

}  // namespace

bool readElevation(const std::filesystem::path& topoDir, const EventParameters& p, StudyGrid& grid,
                   std::ostream& console) {
    RawValueReader reader;
    if (!reader.open(topoDir / "modDem.bin")) {
        sayLine(console, "modDem.bin cannot open.");
        return false;
    }
    const std::int64_t total = std::int64_t{grid.rows} * grid.cols;
    std::vector<float> chunk(kChunkValues);
    for (std::int64_t start = 0; start < total;) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(total - start, static_cast<std::int64_t>(kChunkValues)));
        if (!readChunk(reader, "modDem.bin", std::span(chunk.data(), n), start, total, console)) {
            return false;
        }
        for (std::size_t k = 0; k < n; ++k, ++start) {
            // Files run from the south row to the north row, each row west to east.
            const auto row = static_cast<std::int32_t>(grid.rows - 1 - start / grid.cols);
            const auto column = static_cast<std::int32_t>(start % grid.cols);
            GridCell& cell = grid[grid.index(row, column)];
            cell.initGeometry(row, column, grid.rows, grid.cols, p.swLat, p.swLon, chunk[k]);
            cell.resetLinks();
        }
    }
    return true;
}

bool readTopology(const std::filesystem::path& topoDir, StudyGrid& grid, std::ostream& console) {
    static constexpr std::array<const char*, 3> kNames{"flowDir.bin", "flowAcc.bin",
                                                       "riverNum.bin"};
    std::array<RawValueReader, 3> readers;
    for (std::size_t f = 0; f < readers.size(); ++f) {
        if (!readers[f].open(topoDir / kNames[f])) {
            sayLine(console, kNames[f], " cannot open.");
            return false;
        }
    }
    const std::int64_t total = std::int64_t{grid.rows} * grid.cols;
    std::array<std::vector<std::int32_t>, 3> chunks;
    for (auto& c : chunks) {
        c.resize(kChunkValues);
    }
    for (std::int64_t start = 0; start < total;) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(total - start, static_cast<std::int64_t>(kChunkValues)));
        for (std::size_t f = 0; f < readers.size(); ++f) {
            if (!readChunk(readers[f], kNames[f], std::span(chunks[f].data(), n), start, total,
                           console)) {
                return false;
            }
        }
        for (std::size_t k = 0; k < n; ++k, ++start) {
            const auto row = static_cast<std::int32_t>(grid.rows - 1 - start / grid.cols);
            const auto column = static_cast<std::int32_t>(start % grid.cols);
            GridCell& cell = grid[grid.index(row, column)];
            cell.flowDir = chunks[0][k];
            cell.flowAcc = chunks[1][k];
            cell.riverNum = chunks[2][k];
            if (cell.riverNum >= 0) {
                cell.linkDownstream(row, column, grid);
            }
        }
    }
    // A routed cell needs a flow path: codes other than 0 to 8 give none.
    for (std::int64_t k = 0; k < total; ++k) {
        const auto row = static_cast<std::int32_t>(grid.rows - 1 - k / grid.cols);
        const auto column = static_cast<std::int32_t>(k % grid.cols);
        const GridCell& cell = grid[grid.index(row, column)];
        if (cell.isRiverInterior() && (cell.flowDir < 0 || cell.flowDir > 8)) {
            sayLine(console, "flowDir.bin has the flow direction ", cell.flowDir, " at column ",
                    column + 1, ", row ", grid.rows - row,
                    " (counted from 1 from the west and from the south), a river cell off the "
                    "border; codes must be 0 to 8.");
            return false;
        }
    }
    return true;
}

void registerUpstreamCells(StudyGrid& grid) {
    const auto n = static_cast<CellIndex>(grid.cells.size());
    for (CellIndex i = 0; i < n; ++i) {
        const GridCell& cell = grid[i];
        if (cell.isRiverInterior() && cell.flowDir != 0) {
            registerWithDownstream(grid, i);
        }
    }
}

void countUpstreamCells(StudyGrid& grid) {
    for (GridCell& cell : grid.cells) {
        if (cell.isRiverInterior()) {
            cell.countUpstream();
        }
    }
}

std::optional<StudyGrid> buildDrainageNetwork(const std::filesystem::path& topoDir,
                                              const EventParameters& p, std::ostream& console) {
    StudyGrid grid;
    grid.rows = p.studyRows;
    grid.cols = p.studyCols;
    grid.cells.resize(static_cast<std::size_t>(p.studyRows)
                      * static_cast<std::size_t>(p.studyCols));
    if (!readElevation(topoDir, p, grid, console) || !readTopology(topoDir, grid, console)) {
        return std::nullopt;
    }
    registerUpstreamCells(grid);
    countUpstreamCells(grid);
    return grid;
}

}  // namespace hydro::runoff
