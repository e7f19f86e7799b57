#include "common/digest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>

namespace hydro {
namespace {

std::span<const std::byte> bytesOf(std::string_view text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

std::string sha256Hex(std::string_view text) {
    Sha256 sha;
    sha.update(bytesOf(text));
    return hexOf(sha.finish());
}

// The published test vectors of both functions, and the same digest whatever the pieces.
TEST(Digest, MatchesPublishedVectorsInAnyPieces) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha256Hex(twoBlocks),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    EXPECT_EQ(sha256Hex(million),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    for (std::size_t piece : {1U, 55U, 56U, 63U, 64U, 65U, 1000U}) {
        Sha256 sha;
        for (std::size_t at = 0; at < million.size(); at += piece) {
            sha.update(bytesOf(std::string_view(million).substr(at, piece)));
        }
        EXPECT_EQ(hexOf(sha.finish()),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0")
            << piece;
    }

    EXPECT_EQ(crc32c(bytesOf("123456789")), 0xE3069283U);
    EXPECT_EQ(crc32c(bytesOf("")), 0U);
    const std::string text = "The quick brown fox jumps over the lazy dog, twice over.";
    for (std::size_t split = 0; split <= text.size(); ++split) {
        const std::uint32_t first = crc32c(bytesOf(std::string_view(text).substr(0, split)));
        EXPECT_EQ(crc32c(bytesOf(std::string_view(text).substr(split)), first),
                  crc32c(bytesOf(text)));
    }
}

TEST(Digest, FileDigestNamesAFileItCannotRead) {
    const auto dir = std::filesystem::temp_directory_path() / "digest_test";
    std::filesystem::create_directories(dir);
    { std::ofstream(dir / "abc.bin", std::ios::binary) << "abc"; }
    const auto digest = sha256OfFile(dir / "abc.bin");
    ASSERT_TRUE(digest);
    EXPECT_EQ(hexOf(*digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const auto missing = sha256OfFile(dir / "none.bin");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message, "none.bin cannot be read.");
    EXPECT_FALSE(sha256OfFile(dir));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace hydro
