#include "common/option_hint.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/number_stream.h"

namespace hydro {

namespace {

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const std::size_t substitution = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            row[j] = std::min({above + 1, row[j - 1] + 1, substitution});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string_view withoutDashes(std::string_view option) {
    while (option.starts_with('-')) {
        option.remove_prefix(1);
    }
    return option;
}

}  // namespace

std::optional<std::string_view> misspeltName(std::string_view given,
                                             std::span<const std::string_view> known) {
    constexpr std::size_t kLongest = 64;
    if (given.size() > kLongest || std::ranges::find(known, given) != known.end()) {
        return std::nullopt;
    }
    for (const std::string_view k : known) {
        const std::size_t allowed = k.size() <= 5 ? 1 : 2;
        if (editDistance(given, k) <= allowed
            || (k.starts_with("area") && given.starts_with("area"))) {
            return k;
        }
    }
    return std::nullopt;
}

std::optional<std::string_view> nearestOption(std::string_view given,
                                              std::span<const std::string_view> known) {
    // Long options are short; anything longer is no misspelling of one.
    constexpr std::size_t kLongest = 64;
    // A known option in the wrong place (a value missing, given twice) is no misspelling.
    if (given.size() > kLongest || std::ranges::find(known, given) != known.end()) {
        return std::nullopt;
    }
    std::optional<std::string_view> best;
    std::size_t bestDistance = 0;
    for (const std::string_view k : known) {
        const std::size_t d = editDistance(given, k);
        if (d <= std::max<std::size_t>(2, k.size() / 3) && (!best || d < bestDistance)) {
            best = k;
            bestDistance = d;
        }
    }
    if (best) {
        return best;
    }
    const std::string_view bare = withoutDashes(given);
    if (bare.size() < 3) {
        return std::nullopt;
    }
    for (const std::string_view k : known) {
        const std::string_view name = withoutDashes(k);
        if (name.find(bare) != std::string_view::npos
            || bare.find(name) != std::string_view::npos) {
            return k;
        }
    }
    return std::nullopt;
}

std::string unknownOptionLine(std::string_view given, std::span<const std::string_view> known,
                              std::string_view what, std::string_view help) {
    std::string line = "Unknown option " + quoteToken(given);
    if (!what.empty()) {
        line += " of ";
        line += what;
    }
    if (const auto near = nearestOption(given, known)) {
        line += "; did you mean ";
        line += *near;
        line += "? See ";
    } else {
        line += "; see ";
    }
    line += help;
    line += ".";
    return line;
}

}  // namespace hydro
