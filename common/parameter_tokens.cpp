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

std::optional<std::int32_t> ParameterTokens::readInt(int index, std::string_view what) {
    const auto tok = token(index, what);
    if (!tok) {
        return std::nullopt;
    }
    const auto value = parseInt32(*tok);
    if (!value) {
        notNumber(index, what, "an integer", *tok);
    }
    return value;
}

std::optional<float> ParameterTokens::readFloat(int index, std::string_view what) {
    const auto tok = token(index, what);
    if (!tok) {
        return std::nullopt;
    }
    const auto value = parseFloat(*tok);
    if (!value) {
        notNumber(index, what, "a number", *tok);
    }
    return value;
}

std::optional<double> ParameterTokens::readDouble(int index, std::string_view what) {
    const auto tok = token(index, what);
    if (!tok) {
        return std::nullopt;
    }
    const auto value = parseDouble(*tok);
    if (!value) {
        notNumber(index, what, "a number", *tok);
    }
    return value;
}

}  // namespace hydro
