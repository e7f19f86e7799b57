#pragma once

// The bytes of the page's data files: compressed, base64-encoded binary tables inside small
// scripts (a page opened from the file system may load scripts but not read sibling files),
// and the folder they are written to, put in place only once it is complete.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace hydro::results_page {

/// Standard base64 (RFC 4648) with padding.
[[nodiscard]] std::string base64(std::span<const std::uint8_t> bytes);

/// The bytes compressed in the zlib format (what the browsers' "deflate" decompression
/// stream reads); empty when zlib found no memory.
[[nodiscard]] std::vector<std::uint8_t> zlibCompress(std::span<const std::uint8_t> bytes);

/// 4-byte values regrouped byte plane by byte plane (all first bytes, then all second bytes,
/// ...), little-endian: floats of one series then compress far better.
[[nodiscard]] std::vector<std::uint8_t> bytePlanes(std::span<const float> values);

/// `text` as a JSON string literal, quotes included, safe inside a script element.
[[nodiscard]] std::string jsonString(std::string_view text);

/// A float as the shortest decimal that reads back to the same float (9 significant digits
/// at most).
[[nodiscard]] std::string floatText(float value);

/// The page's output: `index.html` and the folder `page/` beside it. Files are written into a
/// fresh staging folder; `commit` moves the complete result into place, replacing an earlier
/// page, so that a run that fails leaves the earlier page (or nothing) behind.
class PageOutput {
public:
    explicit PageOutput(std::filesystem::path outputDir);
    ~PageOutput();
    PageOutput(const PageOutput&) = delete;
    PageOutput& operator=(const PageOutput&) = delete;
    PageOutput(PageOutput&&) = delete;
    PageOutput& operator=(PageOutput&&) = delete;

    /// Creates the staging folder.
    [[nodiscard]] Status begin();
    /// Writes `page/<relPath>` into the staging folder.
    [[nodiscard]] Status writePageFile(const std::string& relPath, std::string_view text);
    /// Bytes written so far.
    [[nodiscard]] std::uint64_t bytesWritten() const { return bytes_; }
    /// Puts `page/` and `index.html` (holding `indexHtml`) in place.
    [[nodiscard]] Status commit(std::string_view indexHtml);

private:
    std::filesystem::path outputDir_;
    std::filesystem::path staging_;
    std::uint64_t bytes_ = 0;
    bool committed_ = false;
};

}  // namespace hydro::results_page
