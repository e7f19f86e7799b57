#include "common/number_stream.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace hydro {

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20U;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

/// Checks the grammar of a real: [+-]? (digits [. digits*] | . digits) ([eE] [+-]? digits)?
bool isRealToken(std::string_view t) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < t.size() && isDigit(t[i])) {
        ++i;
        ++digits;
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && isDigit(t[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
            ++i;
        }
        std::size_t expDigits = 0;
        while (i < t.size() && isDigit(t[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0) {
            return false;
        }
    }
    return i == t.size();
}

/// Copies a token into a terminated buffer for the C conversion functions.
template <class T, class Convert>
std::optional<T> convertReal(std::string_view token, Convert convert) {
    if (!isRealToken(token)) {
        return std::nullopt;
    }
    std::array<char, 128> small{};
    std::string large;
    const char* text = nullptr;
    if (token.size() < small.size()) {
        std::memcpy(small.data(), token.data(), token.size());
        text = small.data();
    } else {
        large.assign(token);
        text = large.c_str();
    }
    char* end = nullptr;
    const T value = convert(text, &end);
    if (end != text + token.size() || std::isinf(value) || std::isnan(value)) {
        // Overflow beyond the type's range is refused, as a formatted stream refuses it;
        // gradual underflow towards zero is accepted like there.
        return std::nullopt;
    }
    return value;
}

}  // namespace

bool TokenReader::open(const std::filesystem::path& path) {
    file_ = openForReading(path);
    buffer_.assign(kBlockSize, '\0');
    pos_ = end_ = 0;
    eof_ = false;
    line_ = 1;
    tokenLine_ = 0;
    return file_ != nullptr;
}

void TokenReader::openText(std::string text) {
    file_.reset();
    buffer_.assign(text.begin(), text.end());
    pos_ = 0;
    end_ = buffer_.size();
    eof_ = true;
    line_ = 1;
    tokenLine_ = 0;
}

bool TokenReader::refill() {
    if (eof_ || !file_) {
        return false;
    }
    pos_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
    if (end_ == 0) {
        eof_ = true;
    }
    return end_ > 0;
}

std::optional<std::string_view> TokenReader::next() {
    // Skip separators, counting line breaks, refilling as needed.
    for (;;) {
        while (pos_ < end_ && isTokenSpace(buffer_[pos_])) {
            if (buffer_[pos_] == '\n') {
                ++line_;
            }
            ++pos_;
        }
        if (pos_ < end_) {
            break;
        }
        if (!refill()) {
            return std::nullopt;
        }
    }
    tokenLine_ = line_;
    const std::size_t start = pos_;
    while (pos_ < end_ && !isTokenSpace(buffer_[pos_]) && pos_ - start < kMaxTokenLength) {
        ++pos_;
    }
    if (pos_ - start >= kMaxTokenLength) {
        token_.assign(buffer_.data() + start, kMaxTokenLength);
        return cutOff();
    }
    if (pos_ < end_ || eof_ || !file_) {
        return std::string_view(buffer_.data() + start, pos_ - start);
    }
    // The token runs into the next block: collect it.
    token_.assign(buffer_.data() + start, pos_ - start);
    while (refill()) {
        while (pos_ < end_ && !isTokenSpace(buffer_[pos_])) {
            if (token_.size() >= kMaxTokenLength) {
                return cutOff();
            }
            token_.push_back(buffer_[pos_]);
            ++pos_;
        }
        if (pos_ < end_) {
            break;
        }
    }
    return std::string_view(token_);
}

std::optional<std::string_view> TokenReader::cutOff() {
    // Nothing is read after a token this long: the text is not what it should be.
    file_.reset();
    pos_ = end_ = 0;
    eof_ = true;
    return std::string_view(token_);
}

std::string quoteToken(std::string_view token) {
    constexpr std::size_t kShown = 40;
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < token.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(token[i]);
        if (c >= 0x20U && c < 0x7FU && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            out += "\\x";
            out.push_back(kHex[c >> 4U]);
            out.push_back(kHex[c & 0x0FU]);
        }
    }
    if (token.size() > kShown) {
        out += "...";
    }
    return out;
}

std::optional<std::int32_t> parseInt32(std::string_view token) {
    std::size_t i = 0;
    bool negative = false;
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
        negative = token[0] == '-';
        i = 1;
    }
    if (i == token.size()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; i < token.size(); ++i) {
        if (!isDigit(token[i])) {
            return std::nullopt;
        }
        value = value * 10 + (token[i] - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
            return std::nullopt;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<float> parseFloat(std::string_view token) {
    return convertReal<float>(token, [](const char* s, char** e) { return std::strtof(s, e); });
}

std::optional<double> parseDouble(std::string_view token) {
    return convertReal<double>(token, [](const char* s, char** e) { return std::strtod(s, e); });
}

}  // namespace hydro
