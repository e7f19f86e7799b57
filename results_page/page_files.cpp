#include "results_page/page_files.h"

#include <unistd.h>
#include <zlib.h>

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <system_error>

#include "case/case_folder.h"

namespace hydro::results_page {

namespace fs = std::filesystem;

std::string base64(std::span<const std::uint8_t> bytes) {
    constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16U)
                                | (std::uint32_t{bytes[i + 1]} << 8U) | std::uint32_t{bytes[i + 2]};
        out += kAlphabet[(v >> 18U) & 63U];
        out += kAlphabet[(v >> 12U) & 63U];
        out += kAlphabet[(v >> 6U) & 63U];
        out += kAlphabet[v & 63U];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = std::uint32_t{bytes[i]} << 16U;
        if (rest == 2) {
            v |= std::uint32_t{bytes[i + 1]} << 8U;
        }
        out += kAlphabet[(v >> 18U) & 63U];
        out += kAlphabet[(v >> 12U) & 63U];
        out += rest == 2 ? kAlphabet[(v >> 6U) & 63U] : '=';
        out += '=';
    }
    return out;
}

std::vector<std::uint8_t> zlibCompress(std::span<const std::uint8_t> bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<std::uint8_t> out(size);
    constexpr int kLevel = 6;
    const int status =
        compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), kLevel);
    // compressBound leaves room for any input: only a lack of memory can fail.
    if (status != Z_OK) {
        return {};
    }
    out.resize(size);
    return out;
}

std::vector<std::uint8_t> bytePlanes(std::span<const float> values) {
    const std::size_t n = values.size();
    std::vector<std::uint8_t> out(n * 4);
    for (std::size_t i = 0; i < n; ++i) {
        const auto bits = std::bit_cast<std::uint32_t>(values[i]);
        for (std::size_t b = 0; b < 4; ++b) {
            out[b * n + i] = static_cast<std::uint8_t>(bits >> (8U * b));
        }
    }
    return out;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '<' || c == '>' || c == '&' || u < 0x20U) {
            // Escaped so that no "</script>" or control character can appear in the script.
            constexpr std::string_view kHex = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4U];
            out += kHex[u & 15U];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string floatText(float value) {
    for (int digits = 6; digits <= std::numeric_limits<float>::max_digits10; ++digits) {
        std::ostringstream text;
        text.precision(digits);
        text << static_cast<double>(value);
        if (std::strtof(text.str().c_str(), nullptr) == value) {
            return text.str();
        }
    }
    return "0";
}

PageOutput::PageOutput(fs::path outputDir) : outputDir_(std::move(outputDir)) {}

PageOutput::~PageOutput() {
    if (!committed_ && !staging_.empty()) {
        std::error_code ec;
        fs::remove_all(staging_, ec);
    }
}

Status PageOutput::begin() {
    std::error_code ec;
    if (Status folder = checkOutputFolder(outputDir_); !folder) {
        return folder;
    }
    staging_ = outputDir_ / ("page.part-" + std::to_string(::getpid()));
    fs::remove_all(staging_, ec);
    if (!fs::create_directory(staging_, ec)) {
        return Error{staging_.string() + " cannot be created (" + ec.message() + ")."};
    }
    return success();
}

Status PageOutput::writePageFile(const std::string& relPath, std::string_view text) {
    const fs::path path = staging_ / relPath;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return Error{path.string() + " cannot be created."};
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        return Error{path.string() + " cannot be written completely."};
    }
    bytes_ += text.size();
    return success();
}

Status PageOutput::commit(std::string_view indexHtml) {
    if (auto written = writePageFile("index.html", indexHtml); !written) {
        return written;
    }
    const fs::path page = outputDir_ / "page";
    const fs::path index = outputDir_ / "index.html";
    const fs::path old = outputDir_ / ("page.old-" + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove_all(old, ec);
    if (fs::exists(page, ec)) {
        fs::rename(page, old, ec);
        if (ec) {
            return Error{page.string() + " cannot be replaced (" + ec.message() + ")."};
        }
    }
    // The page folder first, then the index that loads it: an index is never left pointing at
    // data that is not there.
    const fs::path indexPart = index.string() + ".part";
    bool pageMoved = false;
    fs::rename(staging_ / "index.html", indexPart, ec);
    if (!ec) {
        fs::rename(staging_, page, ec);
        pageMoved = !ec;
    }
    if (!ec) {
        fs::rename(indexPart, index, ec);
    }
    if (ec) {
        // The earlier page comes back; the new one stays staged, to be removed.
        std::error_code ignored;
        if (pageMoved) {
            fs::rename(page, staging_, ignored);
        }
        fs::remove(indexPart, ignored);
        if (fs::exists(old, ignored)) {
            fs::rename(old, page, ignored);
        }
        return Error{index.string() + " cannot be put in place (" + ec.message() + ")."};
    }
    committed_ = true;
    fs::remove_all(old, ec);
    return success();
}

}  // namespace hydro::results_page
