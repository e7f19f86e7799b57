#include "ensemble/member_sets.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>

#include "common/number_stream.h"
#include "results/gauge_table.h"

namespace hydro::ensemble {

using members::Parameter;

namespace {

constexpr std::size_t kLongestName = 64;

bool isNameText(const std::string& name) {
    if (name.empty() || name.size() > kLongestName || name.front() == '.') {
        return false;
    }
    return std::ranges::all_of(name, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
               || c == '_' || c == '-' || c == '.';
    });
}

/// The lines of `text` with their numbers (from 1), blank lines left out.
std::vector<std::pair<std::size_t, std::string_view>> linesOf(std::string_view text) {
    std::vector<std::pair<std::size_t, std::string_view>> lines;
    std::size_t number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        ++number;
        const std::string_view line = text.substr(at, end - at);
        if (line.find_first_not_of(" \t\r") != std::string_view::npos) {
            lines.emplace_back(number, line);
        }
        at = end + 1;
    }
    return lines;
}

/// What is wrong with `value` for `parameter`, or nothing.
std::optional<std::string> rangeFault(Parameter parameter, double value) {
    if (!std::isfinite(value)) {
        return "must be a finite number";
    }
    switch (parameter) {
        case Parameter::kManningSlope:
        case Parameter::kManningChannel:
            return value > 0.0 ? std::nullopt : std::optional<std::string>("must be above 0");
        case Parameter::kInitialRunoff:
        case Parameter::kRainFactor:
            return value >= 0.0 ? std::nullopt : std::optional<std::string>("must be 0 or more");
    }
    return std::nullopt;
}

/// The header's columns: the parameter of each (none for `member`).
struct Header {
    bool hasName = false;
    std::vector<Parameter> parameters;
};

Result<Header> parseHeader(const std::vector<std::string>& cells, const std::string& at) {
    Header h;
    std::set<std::string> seen;
    for (std::size_t k = 0; k < cells.size(); ++k) {
        const std::string& c = cells[k];
        if (!seen.insert(c).second) {
            return Error{at + ": the column \"" + quoteToken(c) + "\" is given twice."};
        }
        if (k == 0 && c == "member") {
            h.hasName = true;
            continue;
        }
        const auto parameter = members::parameterNamed(c);
        if (!parameter) {
            return Error{at + ": unknown column \"" + quoteToken(c)
                         + "\" (member first, then manning-slope, manning-channel, "
                           "initial-runoff, rain-factor)."};
        }
        h.parameters.push_back(*parameter);
    }
    if (h.parameters.empty()) {
        return Error{at + ": the header names no parameter (manning-slope, manning-channel, "
                          "initial-runoff, rain-factor)."};
    }
    return h;
}

}  // namespace

Result<std::vector<ParameterSet>> parseParameterSets(std::string_view text,
                                                     const std::string& fileName,
                                                     const members::MemberValues& caseValues) {
    const auto lines = linesOf(text);
    if (lines.empty()) {
        return Error{fileName + " is empty: it needs a header of parameter names and a row per "
                                "member."};
    }
    const std::vector<std::string> headerCells = results::splitCsvLine(lines[0].second);
    auto header = parseHeader(headerCells, fileName + " line " + std::to_string(lines[0].first));
    if (!header) {
        return header.error();
    }
    std::vector<ParameterSet> sets;
    std::set<std::string> names;
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string at = fileName + " line " + std::to_string(lines[n].first);
        const std::vector<std::string> cells = results::splitCsvLine(lines[n].second);
        if (cells.size() != headerCells.size()) {
            return Error{at + " has " + std::to_string(cells.size()) + " cells, but the header "
                         + std::to_string(headerCells.size()) + "."};
        }
        ParameterSet set;
        set.values = caseValues;
        set.named = header->parameters;
        set.name = header->hasName ? cells[0] : "set" + std::to_string(n);
        if (!isNameText(set.name)) {
            return Error{at + ", column member: \"" + quoteToken(set.name)
                         + "\" must be 1 to 64 letters, digits, '_', '-' or '.' (not first)."};
        }
        if (!names.insert(set.name).second) {
            return Error{at + ", column member: " + set.name + " is given twice."};
        }
        const std::size_t first = header->hasName ? 1 : 0;
        for (std::size_t k = 0; k < header->parameters.size(); ++k) {
            const Parameter parameter = header->parameters[k];
            const std::string& cell = cells[first + k];
            if (cell.empty()) {
                continue;
            }
            const auto value = parseDouble(cell);
            const std::string where = at + ", column " + members::parameterName(parameter);
            if (!value) {
                return Error{where + ": \"" + quoteToken(cell) + "\" is not a number."};
            }
            if (const auto fault = rangeFault(parameter, *value)) {
                return Error{where + ": " + shortestText(*value) + " " + *fault + "."};
            }
            set.values.set(parameter, *value);
        }
        sets.push_back(std::move(set));
    }
    if (sets.empty()) {
        return Error{fileName + " lists no member: it needs a row below its header."};
    }
    return sets;
}

std::vector<MemberPlan> crossMembers(const std::vector<ParameterSet>& sets,
                                     const std::vector<std::string>& rainNames,
                                     const members::MemberValues& caseValues) {
    std::vector<MemberPlan> plans;
    if (sets.empty()) {
        for (std::size_t r = 0; r < rainNames.size(); ++r) {
            plans.push_back({rainNames[r], caseValues, r});
        }
        return plans;
    }
    for (const ParameterSet& set : sets) {
        if (rainNames.empty()) {
            plans.push_back({set.name, set.values, kCaseRain});
            continue;
        }
        for (std::size_t r = 0; r < rainNames.size(); ++r) {
            plans.push_back({set.name + "_" + rainNames[r], set.values, r});
        }
    }
    return plans;
}

}  // namespace hydro::ensemble
