#pragma once

// How the discharge grids are cut into chunks for storage, and each chunk's values read from
// a raw grid. A grid of frames x rows x columns is stored either one frame per chunk (fast
// to read as maps) or in tiles that hold every frame of 64 x 64 cells (fast to read as the
// series of a cell).

#include <array>
#include <cstddef>
#include <span>

#include "case/discharge_grid.h"
#include "common/result.h"

namespace hydro::results {

enum class ChunkLayout { kFrames, kTimeSeries };

/// Rows and columns of a tile of the time-series layout (fewer where the grid is smaller).
inline constexpr std::size_t kSeriesTileCells = 64;

/// A grid cut into chunks of equal lengths; chunks at the far edges reach past the grid.
struct ChunkGrid {
    std::array<std::size_t, 3> extent{};  ///< frames, rows, columns
    std::array<std::size_t, 3> chunk{};   ///< the chunks' lengths in the same order
    /// The number of chunks.
    [[nodiscard]] std::size_t count() const;
    /// Values in one whole chunk.
    [[nodiscard]] std::size_t chunkValues() const;
};

/// The part of the grid that one chunk covers.
struct Block {
    std::array<std::size_t, 3> start{};
    std::array<std::size_t, 3> count{};
    [[nodiscard]] std::size_t values() const { return count[0] * count[1] * count[2]; }
};

/// The chunks of a grid of `frames` frames of `rows` x `cols` cells (each at least 1).
[[nodiscard]] ChunkGrid chunkGridOf(ChunkLayout layout, std::size_t frames, std::size_t rows,
                                    std::size_t cols);

/// Chunk `k` (0 to count() - 1) in storage order: the last dimension fastest.
[[nodiscard]] Block blockOf(const ChunkGrid& grid, std::size_t k);

/// Reads the values of `block` from `grid` into `out` (at least block.values() long), frame
/// by frame, rows from the south, each row from the west. `allFinite` tells whether every
/// value read is finite.
[[nodiscard]] Status readBlock(DischargeGrid& grid, const Block& block, std::span<float> out,
                               bool& allFinite);

/// The values of `block` (as readBlock leaves them) laid out as one whole chunk of `grid`,
/// `fill` past the grid's edge, and byte-shuffled as 4-byte elements into `out`
/// (grid.chunkValues() * 4 bytes).
void shuffleChunk(std::span<const float> values, const Block& block, const ChunkGrid& grid,
                  float fill, std::span<std::byte> out);

}  // namespace hydro::results
