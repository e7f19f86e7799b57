#pragma once

// Headerless grids of 4-byte little-endian values (IEEE single precision or signed 32-bit
// integers), read and written in large blocks with 64-bit sizes and offsets.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>

namespace hydro {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept;
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

/// Opens `path` for binary reading; nothing when it cannot be opened or names a folder (a
/// folder is a file that cannot be opened).
[[nodiscard]] FileHandle openForReading(const std::filesystem::path& path);

/// Sequential reader of 4-byte little-endian values.
class RawValueReader {
public:
    /// Opens `path` for binary reading; false when it cannot be opened.
    [[nodiscard]] bool open(const std::filesystem::path& path);
    [[nodiscard]] bool isOpen() const { return file_ != nullptr; }

    /// Reads up to `out.size()` values; returns how many whole values were read (fewer only at
    /// the end of the file or on a read error).
    std::size_t read(std::span<float> out);
    std::size_t read(std::span<std::int32_t> out);

    /// Positions the reader before value number `valueIndex` (counted from 0).
    [[nodiscard]] bool seekValue(std::uint64_t valueIndex);

    /// Number of whole values in the file, or nothing when its size cannot be told (a pipe).
    [[nodiscard]] std::optional<std::uint64_t> valueCount() const;

    void close() { file_.reset(); }

private:
    std::size_t readRaw(void* out, std::size_t count);
    FileHandle file_;
};

/// Buffered writer of little-endian single-precision values. Every failure (open, write,
/// flush, close) is remembered; `close()` reports whether every value reached the file.
class RawValueWriter {
public:
    /// Creates or truncates `path` for binary writing; with `append`, opens it to add to its
    /// end (creating it when missing).
    [[nodiscard]] bool open(const std::filesystem::path& path, bool append = false);
    [[nodiscard]] bool isOpen() const { return file_ != nullptr; }

    /// Appends the values; false once any write has failed.
    bool write(std::span<const float> values);
    /// Pushes buffered bytes to the operating system; false once any write has failed.
    bool flush();
    /// Flushes and closes; true when every value was written and the file closed cleanly.
    [[nodiscard]] bool close();
    [[nodiscard]] bool failed() const { return failed_; }

private:
    FileHandle file_;
    bool failed_ = false;
};

/// Converts between host values and their little-endian byte image in place.
void littleEndianInPlace(std::span<std::uint32_t> words);

}  // namespace hydro
