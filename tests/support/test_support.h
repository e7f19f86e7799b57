#pragma once

// Helpers for tests: scratch folders that clean up after themselves and small files written
// in the layouts the programs read.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace hydro::test {

/// A fresh, empty folder under the system's temporary directory, removed again at the end of
/// the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    TempDir(TempDir&&) = delete;
    TempDir& operator=(TempDir&&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& rel) const {
        return path_ / rel;
    }

private:
    std::filesystem::path path_;
};

/// Writes `text` to `path`, creating the parent folders.
void writeText(const std::filesystem::path& path, const std::string& text);
/// Writes 4-byte little-endian values, creating the parent folders.
void writeFloats(const std::filesystem::path& path, std::span<const float> values);
void writeInt32s(const std::filesystem::path& path, std::span<const std::int32_t> values);

[[nodiscard]] std::string readText(const std::filesystem::path& path);

/// How a command run through the shell ended, and what it printed on standard output.
struct ShellOutcome {
    int status = -1;  ///< exit status, or -1 after a signal
    int signal = 0;   ///< the signal that ended it (the shell's 128 + signal counts too)
    std::string console;
};

/// Runs `commandLine` through `/bin/sh` and collects its standard output.
[[nodiscard]] ShellOutcome runShell(const std::string& commandLine);
[[nodiscard]] std::vector<float> readFloats(const std::filesystem::path& path);

/// True when `console` is one line (ending in a line feed) of at most 300 characters, all
/// printable ASCII: what a refused input may print.
[[nodiscard]] bool isOneShortPrintableLine(const std::string& console);

}  // namespace hydro::test
