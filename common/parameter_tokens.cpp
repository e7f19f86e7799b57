#include "common/parameter_tokens.h"

namespace hydro {

std::optional<std::string_view> ParameterTokens::token(int index, std::string_view what) {
    auto tok = tokens_.next();
    if (!tok) {
        console_ << fileName_ << " ends before value " << index << " (" << what << ")."
                 << std::endl;
    }
    return tok;
}

void ParameterTokens::notNumber(int index, std::string_view what, std::string_view kind,
                                std::string_view tok) {
    console_ << fileName_ << " value " << index << " (" << what << ") is not " << kind << ": \""
             << tok << "\"" << std::endl;
}

template <class T, class Parse>
std::optional<T> ParameterTokens::readAs(int index, std::string_view what, std::string_view kind,
                                         Parse parse) {
    const auto tok = token(index, what);
    if (!tok) {
        return std::nullopt;
    }
    const std::optional<T> value = parse(*tok);
    if (!value) {
        notNumber(index, what, kind, *tok);
    }
    return value;
}

std::optional<std::int32_t> ParameterTokens::readInt(int index, std::string_view what) {
    return readAs<std::int32_t>(index, what, "an integer", parseInt32);
}

std::optional<float> ParameterTokens::readFloat(int index, std::string_view what) {
    return readAs<float>(index, what, "a number", parseFloat);
}

std::optional<double> ParameterTokens::readDouble(int index, std::string_view what) {
    return readAs<double>(index, what, "a number", parseDouble);
}

}  // namespace hydro
