#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "common/raw_grid_io.h"

namespace hydro::fuzz {

namespace {

/// Owns the scratch folder; its destructor runs at the normal end of the process.
class ScratchFolder {
public:
    ScratchFolder() {
        std::error_code ec;
        std::string pattern =
            (std::filesystem::temp_directory_path(ec) / "hydro-fuzz-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            fail("cannot create a scratch folder under the temporary directory");
        }
        path_ = name.data();
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ScratchFolder(ScratchFolder&&) = delete;
    ScratchFolder& operator=(ScratchFolder&&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& scratchDir() {
    static const ScratchFolder folder;
    return folder.path();
}

void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const FileHandle file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        fail("cannot create " + path.string());
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        fail("cannot write " + path.string());
    }
}

void fail(std::string_view what) {
    std::cerr << "fuzz check failed: " << what << std::endl;
    std::abort();
}

void requirePrintableLine(std::string_view message) {
    require(!message.empty(), "an error without a message");
    require(message.size() <= kMaxMessageLength,
            "an error message of " + std::to_string(message.size()) + " characters");
    const bool printable = std::all_of(message.begin(), message.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20U && u < 0x7FU;
    });
    require(printable, "an error message with a byte that is not printable ASCII");
}

DescriptorCheck::~DescriptorCheck() {
    // libFuzzer and the sanitizers keep a handful open; the readers close all of theirs.
    constexpr int kMaxLowestFree = 64;
    const FileHandle probe(std::fopen("/dev/null", "rb"));
    const int fd = probe ? ::fileno(probe.get()) : -1;
    require(fd >= 0 && fd < kMaxLowestFree, "a run left files open");
}

std::uint8_t ByteCursor::byte() {
    return pos_ < bytes_.size() ? bytes_[pos_++] : std::uint8_t{0};
}

std::uint16_t ByteCursor::word() {
    const std::uint16_t low = byte();
    const std::uint16_t high = byte();
    return static_cast<std::uint16_t>(low | (high << 8U));
}

std::span<const std::uint8_t> ByteCursor::take(std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size() - pos_);
    const auto part = bytes_.subspan(pos_, n);
    pos_ += n;
    return part;
}

std::span<const std::uint8_t> ByteCursor::rest() {
    return take(bytes_.size() - pos_);
}

}  // namespace hydro::fuzz
