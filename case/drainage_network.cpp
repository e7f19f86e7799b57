#include "case/drainage_network.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "common/raw_grid_io.h"

namespace hydro {

namespace {

constexpr std::size_t kChunkValues = std::size_t{1} << 16U;

/// Values per read for a grid of `total` cells: a small grid is read at once.
std::size_t chunkValues(std::int64_t total) {
    return static_cast<std::size_t>(
        std::clamp<std::int64_t>(total, 0, static_cast<std::int64_t>(kChunkValues)));
}

/// Reads the next `out.size()` values of a grid file; on a short file, the error says how many
/// values it holds and how many the grid needs.
template <class T>
Status readChunk(RawValueReader& reader, const char* name, std::span<T> out, std::int64_t before,
                 std::int64_t needed) {
    const std::size_t got = reader.read(out);
    if (got < out.size()) {
        return Error{std::string(name) + " holds "
                     + std::to_string(before + static_cast<std::int64_t>(got))
                     + " values, but the study grid needs " + std::to_string(needed) + "."};
    }
    return success();
}

}  // namespace

Status readElevation(const std::filesystem::path& topoDir, const EventParameters& p,
                     StudyGrid& grid) {
    RawValueReader reader;
    if (!reader.open(topoDir / "modDem.bin")) {
        return Error{"modDem.bin cannot open.", ErrorKind::kCannotOpen};
    }
    const std::int64_t total = grid.cellCount();
    std::vector<float> chunk(chunkValues(total));
    for (std::int64_t start = 0; start < total;) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(total - start, static_cast<std::int64_t>(kChunkValues)));
        if (Status read = readChunk(reader, "modDem.bin", std::span(chunk.data(), n), start, total);
            !read) {
            return read;
        }
        for (std::size_t k = 0; k < n; ++k, ++start) {
            const std::int32_t row = grid.rowOfFilePosition(start);
            const std::int32_t column = grid.columnOfFilePosition(start);
            GridCell& cell = grid[grid.index(row, column)];
            cell.initGeometry(row, column, grid.rows, grid.cols, p.swLat, p.swLon, chunk[k]);
            cell.resetLinks();
        }
    }
    return success();
}

Status readTopology(const std::filesystem::path& topoDir, StudyGrid& grid) {
    static constexpr std::array<const char*, 3> kNames{"flowDir.bin", "flowAcc.bin",
                                                       "riverNum.bin"};
    std::array<RawValueReader, 3> readers;
    for (std::size_t f = 0; f < readers.size(); ++f) {
        if (!readers[f].open(topoDir / kNames[f])) {
            return Error{std::string(kNames[f]) + " cannot open.", ErrorKind::kCannotOpen};
        }
    }
    const std::int64_t total = grid.cellCount();
    std::array<std::vector<std::int32_t>, 3> chunks;
    for (auto& c : chunks) {
        c.resize(chunkValues(total));
    }
    for (std::int64_t start = 0; start < total;) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(total - start, static_cast<std::int64_t>(kChunkValues)));
        for (std::size_t f = 0; f < readers.size(); ++f) {
            if (Status read =
                    readChunk(readers[f], kNames[f], std::span(chunks[f].data(), n), start, total);
                !read) {
                return read;
            }
        }
        for (std::size_t k = 0; k < n; ++k, ++start) {
            const std::int32_t row = grid.rowOfFilePosition(start);
            const std::int32_t column = grid.columnOfFilePosition(start);
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
        const CellIndex i = grid.indexOfFilePosition(k);
        const GridCell& cell = grid[i];
        if (cell.isRiverInterior() && (cell.flowDir < 0 || cell.flowDir > 8)) {
            return Error{"flowDir.bin has the flow direction " + std::to_string(cell.flowDir)
                         + " at " + grid.explainedCellName(i)
                         + ", a river cell off the border; codes must be 0 to 8."};
        }
    }
    return success();
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

Result<StudyGrid> buildDrainageNetwork(const std::filesystem::path& topoDir,
                                       const EventParameters& p) {
    StudyGrid grid;
    grid.rows = p.studyRows;
    grid.cols = p.studyCols;
    grid.cells.resize(static_cast<std::size_t>(p.studyRows)
                      * static_cast<std::size_t>(p.studyCols));
    if (auto read = readElevation(topoDir, p, grid); !read) {
        return read.error();
    }
    if (auto read = readTopology(topoDir, grid); !read) {
        return read.error();
    }
    registerUpstreamCells(grid);
    countUpstreamCells(grid);
    return grid;
}

Status checkElevationsFinite(const StudyGrid& grid, const RiverList& rivers) {
    // In file order, so that the cell named is the first a reader of the file meets.
    for (std::int64_t k = 0; k < grid.cellCount(); ++k) {
        const CellIndex i = grid.indexOfFilePosition(k);
        const GridCell& cell = grid[i];
        if (!isRouted(cell, rivers)) {
            continue;
        }
        for (const CellIndex c : {i, cell.downstream}) {
            if (c != kNoCell && !std::isfinite(grid[c].elevation)) {
                std::ostringstream line;
                line << "modDem.bin has the elevation " << grid[c].elevation << " at "
                     << grid.explainedCellName(c)
                     << (c == i ? ", a simulated cell" : ", the cell a simulated cell drains into")
                     << "; elevations there must be finite numbers.";
                return Error{line.str()};
            }
        }
    }
    return success();
}

}  // namespace hydro
