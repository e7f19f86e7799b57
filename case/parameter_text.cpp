#include "case/parameter_text.h"

#include "common/number_stream.h"

namespace hydro {

Result<std::string> replaceValues(const std::string& text, std::size_t first,
                                  std::span<const std::string> values) {
    std::string result;
    std::size_t pos = 0;
    for (std::size_t k = 0; k < first + values.size(); ++k) {
        std::size_t start = pos;
        while (start < text.size() && isTokenSpace(text[start])) {
            ++start;
        }
        if (start == text.size()) {
            return Error{"holds fewer than " + std::to_string(first + values.size()) + " values."};
        }
        std::size_t end = start;
        while (end < text.size() && !isTokenSpace(text[end])) {
            ++end;
        }
        result += text.substr(pos, start - pos);
        result += k < first ? text.substr(start, end - start) : values[k - first];
        pos = end;
    }
    result += text.substr(pos);
    return result;
}

}  // namespace hydro
