#include "case/river_list.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "common/number_stream.h"
#include "common/raw_grid_io.h"

namespace hydro {

namespace {

constexpr const char* kFileName = "riverNumList.dat";
constexpr int kIntegersPerRecord = 6;
constexpr int kValuesPerRecord = 8;

Error cannotOpen() {
    return Error{std::string(kFileName) + " cannot open.", ErrorKind::kCannotOpen};
}

}  // namespace

RiverList::RiverList(std::vector<std::int32_t> rivers) : sorted_(std::move(rivers)) {
    std::erase_if(sorted_, [](std::int32_t r) { return r < 0; });
    std::sort(sorted_.begin(), sorted_.end());
}

bool RiverList::isListedRiver(std::int32_t riverNum) const {
    return riverNum >= 0 && std::binary_search(sorted_.begin(), sorted_.end(), riverNum);
}

Result<std::int64_t> countRiverLines(const std::filesystem::path& path) {
    const FileHandle file = openForReading(path);
    if (!file) {
        return cannotOpen();
    }
    std::int64_t lines = 0;
    std::int64_t lineLength = 0;  // characters read since the last line break
    std::vector<char> block(std::size_t{1} << 16U);
    for (;;) {
        const std::size_t n = std::fread(block.data(), 1, block.size(), file.get());
        if (n == 0) {
            break;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (block[i] == '\n') {
                ++lines;
                lineLength = 0;
            } else if (++lineLength > kMaxRiverLineLength) {
                return Error{std::string(kFileName) + " line " + std::to_string(lines + 1)
                             + " is longer than " + std::to_string(kMaxRiverLineLength)
                             + " characters: this is not a river list."};
            }
        }
    }
    return lines + (lineLength > 0 ? 1 : 0);
}

Result<RiverList> readRiverList(const std::filesystem::path& path, std::int64_t riverCount) {
    TokenReader tokens;
    if (!tokens.open(path)) {
        return cannotOpen();
    }
    std::vector<std::int32_t> rivers;
    for (std::int64_t i = 0; i < riverCount; ++i) {
        std::int32_t river = 0;
        std::int64_t recordLine = 0;
        for (int k = 0; k < kValuesPerRecord; ++k) {
            const auto tok = tokens.next();
            if (!tok) {
                if (k == 0) {
                    // Lines without a record (empty lines) are rivers that list nothing.
                    return RiverList(std::move(rivers));
                }
                return Error{std::string(kFileName) + " ends inside the record that starts on line "
                             + std::to_string(recordLine) + " (a record is six integers, then "
                             + "two reals)."};
            }
            const bool integer = k < kIntegersPerRecord;
            const auto value = parseInt32(*tok);
            if (integer ? !value : !parseDouble(*tok)) {
                return Error{std::string(kFileName) + " line " + std::to_string(tokens.line())
                             + " holds \"" + quoteToken(*tok) + "\" where "
                             + (integer ? "an integer" : "a real number") + " belongs (value "
                             + std::to_string(k + 1) + " of a record of six integers and two "
                             + "reals)."};
            }
            if (k == 0) {
                river = *value;
                recordLine = tokens.line();
            }
        }
        rivers.push_back(river);
    }
    return RiverList(std::move(rivers));
}

Result<RiverList> readRiverList(const std::filesystem::path& path) {
    const auto count = countRiverLines(path);
    if (!count) {
        return count.error();
    }
    return readRiverList(path, *count);
}

}  // namespace hydro
