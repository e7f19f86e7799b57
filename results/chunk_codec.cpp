#include "results/chunk_codec.h"

#include <zlib.h>

#include <limits>

namespace hydro::results {

void shuffleBytes(std::span<const std::byte> in, std::size_t elementSize,
                  std::span<std::byte> out) {
    const std::size_t n = in.size() / elementSize;
    for (std::size_t e = 0; e < n; ++e) {
        for (std::size_t b = 0; b < elementSize; ++b) {
            out[b * n + e] = in[e * elementSize + b];
        }
    }
}

void unshuffleBytes(std::span<const std::byte> in, std::size_t elementSize,
                    std::span<std::byte> out) {
    const std::size_t n = in.size() / elementSize;
    for (std::size_t e = 0; e < n; ++e) {
        for (std::size_t b = 0; b < elementSize; ++b) {
            out[e * elementSize + b] = in[b * n + e];
        }
    }
}

std::size_t deflateBound(std::size_t bytes) {
    return static_cast<std::size_t>(compressBound(static_cast<uLong>(bytes)));
}

std::optional<std::size_t> deflateChunk(std::span<const std::byte> in, int level,
                                        std::span<std::byte> out) {
    if (in.size() > std::numeric_limits<uLong>::max()) {
        return std::nullopt;
    }
    auto length = static_cast<uLongf>(out.size());
    const int status =
        compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                  reinterpret_cast<const Bytef*>(in.data()), static_cast<uLong>(in.size()), level);
    if (status != Z_OK) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(length);
}

bool inflateChunk(std::span<const std::byte> in, std::span<std::byte> out) {
    auto length = static_cast<uLongf>(out.size());
    const int status =
        uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                   reinterpret_cast<const Bytef*>(in.data()), static_cast<uLong>(in.size()));
    return status == Z_OK && length == out.size();
}

}  // namespace hydro::results
