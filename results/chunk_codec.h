#pragma once

// The bytes of one chunk as the HDF5 library's shuffle and deflate filters store them: the
// elements' bytes regrouped by position (every element's first byte, then every second byte,
// ...), then one zlib stream. A chunk packed here and written straight into a dataset that
// declares those two filters reads back as the values packed.

#include <cstddef>
#include <optional>
#include <span>

namespace hydro::results {

/// Regroups `in`, whole elements of `elementSize` bytes, by byte position:
/// out[b * n + e] = in[e * elementSize + b] for the n elements. `out` has `in`'s size.
void shuffleBytes(std::span<const std::byte> in, std::size_t elementSize, std::span<std::byte> out);

/// Undoes shuffleBytes.
void unshuffleBytes(std::span<const std::byte> in, std::size_t elementSize,
                    std::span<std::byte> out);

/// The most bytes a zlib stream of `bytes` input bytes can take.
[[nodiscard]] std::size_t deflateBound(std::size_t bytes);

/// The zlib stream of `in` at `level` (1 to 9), as zlib's compress2 makes it (and so as the
/// HDF5 deflate filter does), into `out` of at least deflateBound(in.size()) bytes. Returns
/// the stream's length, or nothing when zlib fails.
[[nodiscard]] std::optional<std::size_t> deflateChunk(std::span<const std::byte> in, int level,
                                                      std::span<std::byte> out);

/// Inflates the zlib stream `in` into exactly `out.size()` bytes; false when the stream is
/// damaged or holds another number of bytes.
[[nodiscard]] bool inflateChunk(std::span<const std::byte> in, std::span<std::byte> out);

}  // namespace hydro::results
