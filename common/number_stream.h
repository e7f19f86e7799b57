#pragma once

// Text files read as streams of white-space-separated numbers. Unlike a formatted stream
// extraction, a token is only accepted when it is wholly a number of the kind asked for:
// "12.0" is not an integer, "1e" is not a real, and a value that does not fit is refused.

#include <array>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/raw_grid_io.h"

namespace hydro {

/// The shortest text that reads back as `value` (an integer or a floating-point number),
/// such as "0.035" or "60".
template <class T>
[[nodiscard]] std::string shortestText(T value) {
    std::array<char, 64> text{};
    char* end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return {text.data(), static_cast<std::size_t>(end - text.data())};
}

/// No value of any text file the programs read comes near this length; a longer token (a
/// binary file, /dev/zero) ends the reading instead of filling memory.
inline constexpr std::size_t kMaxTokenLength = 4096;

/// Splits a text file into white-space-separated tokens, reading it in large blocks.
class TokenReader {
public:
    /// False when the file cannot be opened or is a folder.
    [[nodiscard]] bool open(const std::filesystem::path& path);
    /// Reads tokens from an in-memory text instead of a file.
    void openText(std::string text);

    /// The next token, or nothing at the end of the text. The view stays valid until the
    /// next call. A token longer than kMaxTokenLength comes back cut to that length, and
    /// nothing follows it.
    std::optional<std::string_view> next();

    /// Line (from 1) on which the last token returned starts.
    [[nodiscard]] std::int64_t line() const { return tokenLine_; }

private:
    bool refill();
    std::optional<std::string_view> cutOff();

    FileHandle file_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    std::string token_;
    std::int64_t line_ = 1;
    std::int64_t tokenLine_ = 0;
};

/// A token as it may appear in a one-line message: at most about 40 characters, bytes that
/// are not printable ASCII written as \xHH, and "..." when cut.
[[nodiscard]] std::string quoteToken(std::string_view token);

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
