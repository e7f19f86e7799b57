#pragma once

// What the fuzz targets share: a scratch folder of their own process for the files a reader
// needs, a cursor over the header bytes that set sizes, and the checks that every reader's
// result must pass whatever the input.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace hydro::fuzz {

/// A folder of this process under the temporary directory, made on first use and removed
/// when the process ends normally.
[[nodiscard]] const std::filesystem::path& scratchDir();

/// Writes `bytes` to `path` (created or truncated) and closes it again.
void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

/// Stops the run with `what` on standard error: libFuzzer records the input as a crash.
[[noreturn]] void fail(std::string_view what);

/// Stops the run unless `holds`.
inline void require(bool holds, std::string_view what) {
    if (!holds) {
        fail(what);
    }
}

/// An error line must be fit to print: not empty, one line, at most kMaxMessageLength
/// characters, printable ASCII (whatever it quotes of the input comes escaped and cut short).
inline constexpr std::size_t kMaxMessageLength = 600;
void requirePrintableLine(std::string_view message);

/// Checks at the end of a run that it left no file open: the lowest free descriptor stays
/// low (a reader that leaks one per run fails within a few dozen runs).
class DescriptorCheck {
public:
    DescriptorCheck() = default;
    ~DescriptorCheck();
    DescriptorCheck(const DescriptorCheck&) = delete;
    DescriptorCheck& operator=(const DescriptorCheck&) = delete;
    DescriptorCheck(DescriptorCheck&&) = delete;
    DescriptorCheck& operator=(DescriptorCheck&&) = delete;
};

/// Reads the header bytes of an input; past its end every value is 0.
class ByteCursor {
public:
    ByteCursor(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    [[nodiscard]] std::uint8_t byte();
    /// Two bytes, little-endian.
    [[nodiscard]] std::uint16_t word();
    /// Up to `count` of the bytes that follow.
    [[nodiscard]] std::span<const std::uint8_t> take(std::size_t count);
    /// Every byte not read yet.
    [[nodiscard]] std::span<const std::uint8_t> rest();

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace hydro::fuzz
