#include "runoff_sim/river_list.h"

#include <algorithm>
#include <cstdio>

#include "common/number_stream.h"

namespace hydro::runoff {

RiverList::RiverList(std::vector<std::int32_t> rivers) : sorted_(std::move(rivers)) {
    std::erase_if(sorted_, [](std::int32_t r) { return r < 0; });
    std::sort(sorted_.begin(), sorted_.end());
}

bool RiverList::isListedRiver(std::int32_t riverNum) const {
    return riverNum >= 0 && std::binary_search(sorted_.begin(), sorted_.end(), riverNum);
}

std::optional<std::int64_t> countRiverLines(const std::filesystem::path& path) {
    const FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return std::nullopt;
    }
    std::int64_t lines = 0;
    bool openLine = false;  // characters read since the last line break
    std::vector<char> block(std::size_t{1} << 16U);
    for (;;) {
        const std::size_t n = std::fread(block.data(), 1, block.size(), file.get());
        if (n == 0) {
            break;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (block[i] == '\n') {
                ++lines;
                openLine = false;
            } else {
                openLine = true;
            }
        }
    }
    return lines + (openLine ? 1 : 0);
}

std::optional<RiverList> readRiverList(const std::filesystem::path& path, std::int64_t riverCount) {
    TokenReader tokens;
    if (!tokens.open(path)) {
        return std::nullopt;
    }
    std::vector<std::int32_t> rivers;
    for (std::int64_t i = 0; i < riverCount; ++i) {
        std::int32_t river = 0;
        for (int k = 0; k < 8; ++k) {
            const auto tok = tokens.next();
            const bool ok =
                tok && (k < 6 ? parseInt32(*tok).has_value() : parseDouble(*tok).has_value());
            if (!ok) {
                return RiverList(std::move(rivers));
            }
            if (k == 0) {
                river = *parseInt32(*tok);
            }
        }
        rivers.push_back(river);
    }
    return RiverList(std::move(rivers));
}

}  // namespace hydro::runoff
