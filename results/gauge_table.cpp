#include "results/gauge_table.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

#include "case/time_parse.h"
#include "common/number_stream.h"
#include "common/option_hint.h"
#include "common/text_file.h"

namespace hydro::results {

namespace {

constexpr std::size_t kLongestId = 64;

/// The lines of `text`, without their line breaks; blank lines are skipped, with their
/// 1-based numbers kept.
struct Line {
    std::size_t number;
    std::string_view text;
};

std::vector<Line> linesOf(std::string_view text) {
    std::vector<Line> lines;
    std::size_t number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        ++number;
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.find_first_not_of(" \t") != std::string_view::npos) {
            lines.push_back({number, line});
        }
        at = end + 1;
    }
    return lines;
}

bool isIdText(const std::string& id) {
    if (id.empty() || id.size() > kLongestId || id.front() == '.') {
        return false;
    }
    return std::ranges::all_of(id, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
               || c == '_' || c == '-' || c == '.';
    });
}

std::string where(const std::string& fileName, std::size_t line) {
    return fileName + " line " + std::to_string(line);
}

/// The cells of a table row, which must be as many as the header's; `at` names the line.
Result<std::vector<std::string>> rowCells(std::string_view text, std::size_t headerCells,
                                          const std::string& at) {
    std::vector<std::string> cells = splitCsvLine(text);
    if (cells.size() != headerCells) {
        return Error{at + " has " + std::to_string(cells.size()) + " cells, but the header "
                     + std::to_string(headerCells) + "."};
    }
    return cells;
}

}  // namespace

std::vector<std::string> splitCsvLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    std::vector<std::string> cells;
    std::size_t at = 0;
    while (true) {
        const std::size_t comma = line.find(',', at);
        std::string_view cell =
            line.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at);
        const std::size_t first = cell.find_first_not_of(" \t");
        const std::size_t last = cell.find_last_not_of(" \t");
        cells.emplace_back(first == std::string_view::npos ? std::string_view{}
                                                           : cell.substr(first, last - first + 1));
        if (comma == std::string_view::npos) {
            break;
        }
        at = comma + 1;
    }
    return cells;
}

Result<std::vector<Gauge>> parseGauges(std::string_view text, const std::string& fileName) {
    const std::vector<Line> lines = linesOf(text);
    if (lines.empty()) {
        return Error{fileName + " is empty: it needs a header id,lon,lat and a line per gauge."};
    }
    const std::vector<std::string> header = splitCsvLine(lines[0].text);
    std::map<std::string, std::size_t> column;
    for (std::size_t k = 0; k < header.size(); ++k) {
        static constexpr std::array<std::string_view, 4> kColumns{"id", "lon", "lat", "area_km2"};
        if (const auto meant = misspeltName(header[k], kColumns)) {
            return Error{fileName + " line 1: unknown column " + quoteToken(header[k])
                         + " (did you mean " + std::string(*meant)
                         + "?); the columns are id, lon, lat and optionally area_km2."};
        }
        column.emplace(header[k], k);
    }
    for (const char* required : {"id", "lon", "lat"}) {
        if (!column.contains(required)) {
            return Error{fileName + " has no column \"" + required
                         + "\" in its header (id,lon,lat and optionally area_km2)."};
        }
    }
    const std::size_t idCol = column["id"];
    const std::size_t lonCol = column["lon"];
    const std::size_t latCol = column["lat"];
    const auto areaIt = column.find("area_km2");
    const auto thresholdIt = column.find("threshold_m3s");

    std::vector<Gauge> gauges;
    std::set<std::string> seen;
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string at = where(fileName, lines[n].number);
        const Result<std::vector<std::string>> row = rowCells(lines[n].text, header.size(), at);
        if (!row) {
            return row.error();
        }
        const std::vector<std::string>& cells = *row;
        Gauge g;
        g.id = cells[idCol];
        if (!isIdText(g.id)) {
            return Error{at + ": the id \"" + quoteToken(g.id)
                         + "\" must be 1 to 64 letters, digits, '_', '-' or '.' (not first)."};
        }
        if (!seen.insert(g.id).second) {
            return Error{at + ": the id " + g.id + " is given twice."};
        }
        const auto lon = parseDouble(cells[lonCol]);
        const auto lat = parseDouble(cells[latCol]);
        if (!lon || !std::isfinite(*lon) || !lat || !std::isfinite(*lat)) {
            return Error{at + ": lon and lat of " + g.id + " must be numbers (degrees), not \""
                         + quoteToken(cells[lonCol]) + "\" and \"" + quoteToken(cells[latCol])
                         + "\"."};
        }
        g.lon = *lon;
        g.lat = *lat;
        if (areaIt != column.end() && !cells[areaIt->second].empty()) {
            const auto area = parseDouble(cells[areaIt->second]);
            if (!area || !std::isfinite(*area) || !(*area > 0.0)) {
                return Error{at + ": area_km2 of " + g.id + " must be a number above 0, not \""
                             + quoteToken(cells[areaIt->second]) + "\"."};
            }
            g.areaKm2 = *area;
        }
        if (thresholdIt != column.end() && !cells[thresholdIt->second].empty()) {
            const auto threshold = parseDouble(cells[thresholdIt->second]);
            if (!threshold || !std::isfinite(*threshold) || *threshold < 0.0) {
                return Error{at + ": threshold_m3s of " + g.id
                             + " must be a number of 0 or more, not \""
                             + quoteToken(cells[thresholdIt->second]) + "\"."};
            }
            g.thresholdM3s = *threshold;
        }
        gauges.push_back(std::move(g));
    }
    if (gauges.empty()) {
        return Error{fileName + " lists no gauge."};
    }
    return gauges;
}

Result<Observations> parseObservations(std::string_view text, const std::string& fileName,
                                       const std::vector<Gauge>& gauges, const EventStart& start,
                                       std::int64_t hours) {
    const std::vector<Line> lines = linesOf(text);
    if (lines.empty()) {
        return Error{fileName + " is empty: it needs a header time,<id>,..."};
    }
    const std::vector<std::string> header = splitCsvLine(lines[0].text);
    if (header.empty() || header[0] != "time") {
        return Error{fileName + " must start its header with the column \"time\"."};
    }
    std::map<std::string, std::size_t> gaugeOf;
    for (std::size_t k = 0; k < gauges.size(); ++k) {
        gaugeOf.emplace(gauges[k].id, k);
    }
    Observations obs;
    obs.series.resize(gauges.size());
    // Table column -> gauge, or none for a column naming no gauge.
    std::vector<std::optional<std::size_t>> target(header.size());
    std::set<std::string> headerIds;
    for (std::size_t c = 1; c < header.size(); ++c) {
        if (!headerIds.insert(header[c]).second) {
            return Error{fileName + " names the column " + quoteToken(header[c]) + " twice."};
        }
        const auto it = gaugeOf.find(header[c]);
        if (it == gaugeOf.end()) {
            obs.unknownIds.push_back(header[c]);
            continue;
        }
        target[c] = it->second;
        obs.series[it->second].assign(static_cast<std::size_t>(hours), std::nullopt);
    }
    const std::int64_t startSeconds = start.unixSeconds();
    std::vector<bool> given(static_cast<std::size_t>(hours), false);
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string at = where(fileName, lines[n].number);
        const Result<std::vector<std::string>> row = rowCells(lines[n].text, header.size(), at);
        if (!row) {
            return row.error();
        }
        const std::vector<std::string>& cells = *row;
        const auto time = parseIsoInstant(cells[0]);
        if (!time) {
            return Error{
                at + ": the time \"" + quoteToken(cells[0]) + "\" " + time.error().message
                + (time.error().message == kNotIsoTime ? " (such as 2000-01-01T01:00:00Z)." : ".")};
        }
        // Both instants lie within the years 1 to 9999: the difference cannot overflow.
        const std::int64_t after = *time - startSeconds;
        if (after <= 0 || after % 3600 != 0 || after / 3600 > hours) {
            ++obs.rowsOutsideEvent;
            continue;
        }
        const auto index = static_cast<std::size_t>(after / 3600 - 1);
        if (given[index]) {
            return Error{at + ": the time " + quoteToken(cells[0]) + " is given twice."};
        }
        given[index] = true;
        for (std::size_t c = 1; c < cells.size(); ++c) {
            if (!target[c] || cells[c].empty()) {
                continue;
            }
            const auto v = parseDouble(cells[c]);
            if (!v || !std::isfinite(*v) || *v < 0.0) {
                return Error{at + ": the discharge of " + quoteToken(header[c]) + " must be a number of 0 "
                                  "or more (m3/s) or empty, not \"" + quoteToken(cells[c]) + "\"."};
            }
            obs.series[*target[c]][index] = *v;
        }
    }
    return obs;
}

namespace {

/// Gauge and observation tables larger than this are not tables of this kind.
constexpr std::uintmax_t kLargestTableBytes = std::uintmax_t{1} << 30U;

}  // namespace

Result<std::string> readTableFile(const std::filesystem::path& path) {
    const std::string name = path.string();
    return readTextFile(path, {kLargestTableBytes, name + " is a folder, not a table.",
                               name + " is too large for a table.", name});
}

}  // namespace hydro::results
