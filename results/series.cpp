#include "results/series.h"

#include "common/number_stream.h"

namespace hydro::results {

namespace {

Error refuse(std::string error) {
    return Error{std::move(error)};
}

/// Splits a line into its white-space-separated tokens (at most three are kept: enough to
/// tell that a line holds more than two).
std::vector<std::string_view> splitLine(std::string_view line) {
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i < line.size() && parts.size() < 3) {
        while (i < line.size() && isTokenSpace(line[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && !isTokenSpace(line[i])) {
            ++i;
        }
        if (i > start) {
            parts.push_back(line.substr(start, i - start));
        }
    }
    return parts;
}

// Tokens are quoted cut short and with their unprintable bytes escaped, so that an error stays
// one printable line whatever the file holds (ParseSeries.ErrorLinesStayShortAndPrintable).
std::string quoted(std::string_view token) {
    return "\"" + quoteToken(token) + "\"";
}

}  // namespace

Result<DischargeSeries> parseSeries(std::string_view text, std::int64_t hours) {
    DischargeSeries series;
    std::int64_t line = 0;
    bool anyMissing = false;
    bool anyDischarge = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        std::string_view content = text.substr(pos, end - pos);
        pos = end + 1;
        ++line;
        if (line > hours) {
            return refuse("holds more than the " + std::to_string(hours)
                          + " lines of the event's hours.");
        }
        const std::string at = "line " + std::to_string(line);
        const auto parts = splitLine(content);
        if (parts.size() != 2) {
            return refuse(at + " should hold an hour and a discharge, but holds "
                          + std::to_string(parts.size()) + (parts.size() == 3 ? " or more" : "")
                          + " values.");
        }
        const auto hour = parseInt32(parts[0]);
        if (!hour) {
            return refuse(at + " holds " + quoted(parts[0]) + " where the hour belongs.");
        }
        if (*hour != line) {
            return refuse(at + " is for hour " + std::to_string(*hour) + ", but hour "
                          + std::to_string(line) + " belongs there.");
        }
        const auto value = parseDouble(parts[1]);
        if (!value) {
            return refuse(at + " holds " + quoted(parts[1]) + " where a discharge belongs.");
        }
        if (*value == kNoDischarge) {
            anyMissing = true;
        } else if (*value < 0.0) {
            return refuse(at + " holds the negative discharge " + quoteToken(parts[1]) + ".");
        } else {
            anyDischarge = true;
        }
        if (anyMissing && anyDischarge) {
            return refuse(at + " mixes -9999 (no discharge) with discharges of other hours.");
        }
        series.values.push_back(*value);
        series.tokens.emplace_back(parts[1]);
    }
    if (line < hours) {
        return refuse("holds " + std::to_string(line) + " lines, but the event has "
                      + std::to_string(hours) + " hours.");
    }
    return series;
}

std::optional<Peak> findPeak(const std::vector<double>& values) {
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] == kNoDischarge) {
            continue;
        }
        if (!best || values[i] > values[*best]) {
            best = i;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    const auto n = static_cast<std::int64_t>(*best);
    return Peak{*best, n / 24 + 1, n % 24 + 1};
}

}  // namespace hydro::results
