#pragma once

// Text files read as streams of white-space-separated numbers. Unlike a formatted stream
// extraction, a token is only accepted when it is wholly a number of the kind asked for:
// "12.0" is not an integer, "1e" is not a real, and a value that does not fit is refused.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/raw_grid_io.h"

namespace hydro {

/// Splits a text file into white-space-separated tokens, reading it in large blocks.
class TokenReader {
public:
    [[nodiscard]] bool open(const std::filesystem::path& path);
    /// Reads tokens from an in-memory text instead of a file.
    void openText(std::string text);

    /// The next token, or nothing at the end of the text. The view stays valid until the
    /// next call.
    std::optional<std::string_view> next();

private:
    bool refill();

    FileHandle file_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    std::string token_;
};

/// A whole decimal integer token with an optional sign that fits 32 bits.
[[nodiscard]] std::optional<std::int32_t> parseInt32(std::string_view token);
/// A whole decimal real token (optional sign, digits with an optional point, optional
/// exponent), rounded once to single precision; values beyond the float range are refused.
[[nodiscard]] std::optional<float> parseFloat(std::string_view token);
/// As `parseFloat`, rounded once to double precision.
[[nodiscard]] std::optional<double> parseDouble(std::string_view token);

/// True for the characters that separate tokens (blank, tab, line feed, carriage return,
/// vertical tab, form feed).
[[nodiscard]] constexpr bool isTokenSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace hydro
