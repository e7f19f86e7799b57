#include "results/grid_chunks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace hydro::results {

namespace {

std::size_t chunksAlong(const ChunkGrid& g, std::size_t d) {
    return (g.extent[d] + g.chunk[d] - 1) / g.chunk[d];
}

}  // namespace

std::size_t ChunkGrid::count() const {
    return chunksAlong(*this, 0) * chunksAlong(*this, 1) * chunksAlong(*this, 2);
}

std::size_t ChunkGrid::chunkValues() const {
    return chunk[0] * chunk[1] * chunk[2];
}

ChunkGrid chunkGridOf(ChunkLayout layout, std::size_t frames, std::size_t rows, std::size_t cols) {
    ChunkGrid g;
    g.extent = {frames, rows, cols};
    if (layout == ChunkLayout::kFrames) {
        g.chunk = {1, rows, cols};
    } else {
        g.chunk = {frames, std::min(rows, kSeriesTileCells), std::min(cols, kSeriesTileCells)};
    }
    return g;
}

Block blockOf(const ChunkGrid& grid, std::size_t k) {
    const std::size_t n1 = chunksAlong(grid, 1);
    const std::size_t n2 = chunksAlong(grid, 2);
    const std::array<std::size_t, 3> index{k / (n1 * n2), (k / n2) % n1, k % n2};
    Block b;
    for (std::size_t d = 0; d < 3; ++d) {
        b.start[d] = index[d] * grid.chunk[d];
        b.count[d] = std::min(grid.chunk[d], grid.extent[d] - b.start[d]);
    }
    return b;
}

Status readBlock(DischargeGrid& grid, const Block& block, std::span<float> out, bool& allFinite) {
    const auto cols = static_cast<std::size_t>(grid.shape().cols);
    const bool wholeRows = block.start[2] == 0 && block.count[2] == cols;
    std::size_t at = 0;
    for (std::size_t t = 0; t < block.count[0]; ++t) {
        const std::size_t frame = block.start[0] + t;
        if (wholeRows) {
            // The rows of a frame lie one after another: one read.
            const std::size_t n = block.count[1] * cols;
            if (auto read = grid.readValues(frame, block.start[1] * cols, out.subspan(at, n));
                !read) {
                return read;
            }
            at += n;
            continue;
        }
        for (std::size_t r = 0; r < block.count[1]; ++r) {
            const std::size_t position = (block.start[1] + r) * cols + block.start[2];
            if (auto read = grid.readValues(frame, position, out.subspan(at, block.count[2]));
                !read) {
                return read;
            }
            at += block.count[2];
        }
    }
    allFinite = std::all_of(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(at),
                            [](float v) { return std::isfinite(v); });
    return success();
}

void shuffleChunk(std::span<const float> values, const Block& block, const ChunkGrid& grid,
                  float fill, std::span<std::byte> out) {
    const std::size_t n = grid.chunkValues();
    const auto& c = grid.chunk;
    std::size_t e = 0;
    for (std::size_t t = 0; t < c[0]; ++t) {
        for (std::size_t r = 0; r < c[1]; ++r) {
            for (std::size_t k = 0; k < c[2]; ++k, ++e) {
                const bool inside = t < block.count[0] && r < block.count[1] && k < block.count[2];
                const float v =
                    inside ? values[(t * block.count[1] + r) * block.count[2] + k] : fill;
                std::array<std::byte, sizeof(float)> bytes{};
                std::memcpy(bytes.data(), &v, sizeof v);
                for (std::size_t b = 0; b < sizeof(float); ++b) {
                    out[b * n + e] = bytes[b];
                }
            }
        }
    }
}

}  // namespace hydro::results
