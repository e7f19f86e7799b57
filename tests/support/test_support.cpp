#include "tests/support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace hydro::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const auto base = fs::temp_directory_path();
    for (;;) {
        auto candidate = base
                         / ("hydro-test-" + std::to_string(::getpid()) + "-"
                            + std::to_string(counter++) + "-" + std::to_string(rd() % 100000));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            break;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything writable again so that removal cannot fail on a test's read-only files.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink()) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::remove_all(path_, ec);
}

namespace {

void writeBytes(const fs::path& path, const void* data, std::size_t size) {
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace

void writeText(const fs::path& path, const std::string& text) {
    writeBytes(path, text.data(), text.size());
}

void writeFloats(const fs::path& path, std::span<const float> values) {
    writeBytes(path, values.data(), values.size_bytes());
}

void writeInt32s(const fs::path& path, std::span<const std::int32_t> values) {
    writeBytes(path, values.data(), values.size_bytes());
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<float> readFloats(const fs::path& path) {
    const std::string bytes = readText(path);
    std::vector<float> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return values;
}

ShellOutcome runShell(const std::string& commandLine) {
    ShellOutcome out;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        out.console = "cannot start " + commandLine;
        return out;
    }
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        out.console.append(buffer.data(), got);
    }
    const int status = pclose(pipe);
    // The shell reports a child's signal as status 128 + signal.
    if (WIFSIGNALED(status)) {
        out.signal = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        out.status = WEXITSTATUS(status);
        if (out.status > 128) {
            out.signal = out.status - 128;
        }
    }
    return out;
}

bool isOneShortPrintableLine(const std::string& console) {
    constexpr std::size_t kLongest = 300;
    if (console.empty() || console.size() > kLongest || console.back() != '\n') {
        return false;
    }
    return std::all_of(console.begin(), console.end() - 1,
                       [](char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace hydro::test
