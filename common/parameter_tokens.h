#pragma once

// Reading "param-event.dat": the values come one after another from a stream of
// white-space-separated tokens; each one must be wholly a number of its kind. A value that is
// missing or malformed is reported on the console in one line naming the file, the value's
// number and meaning, and what is wrong.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string_view>

#include "common/number_stream.h"

namespace hydro {

class ParameterTokens {
public:
    ParameterTokens(std::ostream& console, std::string_view fileName)
        : console_(console), fileName_(fileName) {}

    [[nodiscard]] bool open(const std::filesystem::path& path) { return tokens_.open(path); }
    void openText(std::string text) { tokens_.openText(std::move(text)); }

    /// Value number `index` (counted from 1), described by `what` in messages.
    [[nodiscard]] std::optional<std::int32_t> readInt(int index, std::string_view what);
    [[nodiscard]] std::optional<float> readFloat(int index, std::string_view what);
    [[nodiscard]] std::optional<double> readDouble(int index, std::string_view what);

    /// Reports a value that was read but lies outside its range; `rule` says what is allowed
    /// ("must be at least 1"). Always returns nothing, for use in a return statement.
    template <class T>
    std::nullopt_t refuse(int index, std::string_view what, std::string_view rule, T value) {
        console_ << fileName_ << " value " << index << " (" << what << ") " << rule << ": " << value
                 << std::endl;
        return std::nullopt;
    }

private:
    std::optional<std::string_view> token(int index, std::string_view what);
    template <class T, class Parse>
    std::optional<T> readAs(int index, std::string_view what, std::string_view kind, Parse parse);
    void notNumber(int index, std::string_view what, std::string_view kind, std::string_view tok);

    std::ostream& console_;
    std::string_view fileName_;
    TokenReader tokens_;
};

}  // namespace hydro
