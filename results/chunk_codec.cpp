#include "results/chunk_codec.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>

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
    return std::max(static_cast<std::size_t>(compressBound(static_cast<uLong>(bytes))),
                    libdeflate_zlib_compress_bound(nullptr, bytes));
}

namespace {

/// A thread's compressor for one level, kept for the thread's next chunks.
class Compressor {
public:
    explicit Compressor(int level) : level_(level), c_(libdeflate_alloc_compressor(level)) {}
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    Compressor(Compressor&&) = delete;
    Compressor& operator=(Compressor&&) = delete;
    ~Compressor() { libdeflate_free_compressor(c_); }
    [[nodiscard]] int level() const { return level_; }
    [[nodiscard]] libdeflate_compressor* get() const { return c_; }

private:
    int level_;
    libdeflate_compressor* c_;
};

}  // namespace

std::optional<std::size_t> deflateChunk(std::span<const std::byte> in, int level,
                                        std::span<std::byte> out) {
    thread_local std::unique_ptr<Compressor> compressor;
    if (!compressor || compressor->level() != level) {
        compressor = std::make_unique<Compressor>(level);
    }
    if (compressor->get() == nullptr) {
        return std::nullopt;
    }
    const std::size_t length =
        libdeflate_zlib_compress(compressor->get(), in.data(), in.size(), out.data(), out.size());
    if (length == 0) {
        return std::nullopt;
    }
    return length;
}

bool inflateChunk(std::span<const std::byte> in, std::span<std::byte> out) {
    auto length = static_cast<uLongf>(out.size());
    const int status =
        uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                   reinterpret_cast<const Bytef*>(in.data()), static_cast<uLong>(in.size()));
    return status == Z_OK && length == out.size();
}

}  // namespace hydro::results
