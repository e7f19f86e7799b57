#include "common/digest.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

namespace hydro {

namespace {

constexpr std::array<std::uint32_t, 64> kRound{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

}  // namespace

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::block(const std::uint8_t* data) {
    std::array<std::uint32_t, 64> w{};
    for (std::size_t i = 0; i < 16; ++i) {
        w[i] = (static_cast<std::uint32_t>(data[4 * i]) << 24)
               | (static_cast<std::uint32_t>(data[4 * i + 1]) << 16)
               | (static_cast<std::uint32_t>(data[4 * i + 2]) << 8)
               | static_cast<std::uint32_t>(data[4 * i + 3]);
    }
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = state_;
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t s1 = rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25);
        const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + s1 + choice + kRound[i] + w[i];
        const std::uint32_t s0 = rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22);
        const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        const std::uint32_t t2 = s0 + majority;
        v[7] = v[6];
        v[6] = v[5];
        v[5] = v[4];
        v[4] = v[3] + t1;
        v[3] = v[2];
        v[2] = v[1];
        v[1] = v[0];
        v[0] = t1 + t2;
    }
    for (std::size_t i = 0; i < 8; ++i) {
        state_[i] += v[i];
    }
}

void Sha256::update(std::span<const std::byte> bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t size = bytes.size();
    length_ += static_cast<std::uint64_t>(size);
    if (buffered_ > 0) {
        const std::size_t take = std::min(size, buffer_.size() - buffered_);
        std::memcpy(buffer_.data() + buffered_, data, take);
        buffered_ += take;
        data += take;
        size -= take;
        if (buffered_ < buffer_.size()) {
            return;
        }
        block(buffer_.data());
        buffered_ = 0;
    }
    for (; size >= 64; data += 64, size -= 64) {
        block(data);
    }
    if (size > 0) {
        std::memcpy(buffer_.data(), data, size);
        buffered_ = size;
    }
}

Sha256Digest Sha256::finish() {
    const std::uint64_t bits = length_ * 8U;
    std::array<std::byte, 72> tail{};
    tail[0] = std::byte{0x80};
    // Pad to 56 mod 64, then the length in bits, big-endian.
    const std::size_t pad = (buffered_ < 56 ? 56 : 120) - buffered_;
    for (std::size_t i = 0; i < 8; ++i) {
        tail[pad + i] = static_cast<std::byte>(bits >> (56 - 8 * i));
    }
    const std::uint64_t length = length_;
    update(std::span(tail).first(pad + 8));
    length_ = length;
    Sha256Digest out{};
    for (std::size_t i = 0; i < 8; ++i) {
        for (std::size_t b = 0; b < 4; ++b) {
            out[4 * i + b] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * b));
        }
    }
    return out;
}

Result<Sha256Digest> sha256OfFile(const std::filesystem::path& path) {
    const Error unreadable{path.filename().string() + " cannot be read.", ErrorKind::kCannotOpen};
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return unreadable;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return unreadable;
    }
    Sha256 sha;
    std::vector<char> chunk(1 << 20);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        sha.update(std::as_bytes(std::span(chunk.data(), got)));
    }
    if (in.bad() || !in.eof()) {
        return unreadable;
    }
    return sha.finish();
}

std::string hexOf(const Sha256Digest& digest) {
    static constexpr const char* kDigits = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (const std::uint8_t b : digest) {
        text.push_back(kDigits[b >> 4U]);
        text.push_back(kDigits[b & 15U]);
    }
    return text;
}

namespace {

/// Tables for eight bytes at a time ("slicing by 8") of the reflected polynomial 0x82F63B78.
struct Crc32cTables {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    Crc32cTables() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1U) != 0 ? (c >> 1U) ^ 0x82F63B78U : c >> 1U;
            }
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i) {
            for (std::size_t s = 1; s < 8; ++s) {
                const std::uint32_t prev = t[s - 1][i];
                t[s][i] = (prev >> 8U) ^ t[0][prev & 0xFFU];
            }
        }
    }
};

const Crc32cTables& crcTables() {
    static const Crc32cTables tables;
    return tables;
}

}  // namespace

std::uint32_t crc32c(std::span<const std::byte> bytes, std::uint32_t crc) {
    const auto& t = crcTables().t;
    std::uint32_t c = ~crc;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t n = bytes.size();
    for (; n >= 8; p += 8, n -= 8) {
        const std::uint32_t lo =
            c
            ^ (static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8U)
               | (static_cast<std::uint32_t>(p[2]) << 16U)
               | (static_cast<std::uint32_t>(p[3]) << 24U));
        c = t[7][lo & 0xFFU] ^ t[6][(lo >> 8U) & 0xFFU] ^ t[5][(lo >> 16U) & 0xFFU]
            ^ t[4][lo >> 24U] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; n > 0; ++p, --n) {
        c = (c >> 8U) ^ t[0][(c ^ *p) & 0xFFU];
    }
    return ~c;
}

}  // namespace hydro
