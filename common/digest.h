#pragma once

// Digests of file contents and checksums of byte blocks. SHA-256 identifies the input files a
// result was computed from (the same value `sha256sum` prints); CRC-32C (the Castagnoli
// polynomial, as in iSCSI and ext4) guards large blocks against truncation and corruption at
// the speed of memory.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "common/result.h"

namespace hydro {

using Sha256Digest = std::array<std::uint8_t, 32>;

/// SHA-256 (FIPS 180-4), fed in pieces of any size.
class Sha256 {
public:
    Sha256();
    void update(std::span<const std::byte> bytes);
    /// The digest of everything fed; the object is spent afterwards.
    [[nodiscard]] Sha256Digest finish();

private:
    void block(const std::uint8_t* data);
    std::array<std::uint32_t, 8> state_{};
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

/// The SHA-256 of the whole file at `path`. Error: "<name> cannot be read." when it cannot be
/// opened or read to its end.
[[nodiscard]] Result<Sha256Digest> sha256OfFile(const std::filesystem::path& path);

/// The digest as 64 lower-case hexadecimal digits.
[[nodiscard]] std::string hexOf(const Sha256Digest& digest);

/// CRC-32C of `bytes`, continuing from `crc` (0 to start).
[[nodiscard]] std::uint32_t crc32c(std::span<const std::byte> bytes, std::uint32_t crc = 0);

}  // namespace hydro
