#include "results_page/gauges.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <span>

#include "case/time_parse.h"
#include "common/number_stream.h"

namespace hydro::results_page {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        s = s.substr(1, s.size() - 2);
    }
    return s;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(trim(line.substr(start, comma - start)));
        if (comma == std::string_view::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

/// The lines of a table, without empty ones, each with its 1-based line number.
std::vector<std::pair<std::size_t, std::string_view>> tableLines(std::string_view text) {
    std::vector<std::pair<std::size_t, std::string_view>> lines;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        ++number;
        const std::string_view line = text.substr(start, end - start);
        if (!trim(line).empty()) {
            lines.emplace_back(number, line);
        }
        start = end + 1;
    }
    return lines;
}

Error lineError(const std::string& file, std::size_t line, const std::string& what) {
    return Error{file + " line " + std::to_string(line) + ": " + what};
}

/// The gauges of gauge_cells.csv, without observations.
Result<std::vector<Gauge>> parseCells(std::string_view cellsCsv, std::int32_t cols,
                                      std::int32_t rows) {
    const std::string cellsName = "gauge_cells.csv";
    const auto lines = tableLines(cellsCsv);
    if (lines.empty() || splitFields(lines[0].second).size() < 7
        || splitFields(lines[0].second)[0] != "id") {
        return lineError(cellsName, lines.empty() ? 1 : lines[0].first,
                         "the header must read id,column,row,lon,lat,upstream_km2,river.");
    }
    std::vector<Gauge> gauges;
    std::set<std::string, std::less<>> ids;
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const auto [number, line] = lines[n];
        const auto f = splitFields(line);
        if (f.size() != 7) {
            return lineError(cellsName, number,
                             "expected 7 fields, found " + std::to_string(f.size()) + ".");
        }
        Gauge g;
        g.id = std::string(f[0]);
        const auto column = parseInt32(f[1]);
        const auto row = parseInt32(f[2]);
        const auto lon = parseDouble(f[3]);
        const auto lat = parseDouble(f[4]);
        const auto area = parseDouble(f[5]);
        if (g.id.empty() || !column || !row || !lon || !lat || !area) {
            return lineError(cellsName, number,
                             "an id, whole column and row numbers and three numbers are needed.");
        }
        if (*column < 1 || *column > cols || *row < 1 || *row > rows) {
            return lineError(cellsName, number,
                             "column " + std::to_string(*column) + ", row " + std::to_string(*row)
                                 + " lies outside the study grid of " + std::to_string(cols)
                                 + " columns and " + std::to_string(rows) + " rows.");
        }
        if (!ids.insert(g.id).second) {
            return lineError(cellsName, number,
                             "gauge \"" + quoteToken(g.id) + "\" is listed twice.");
        }
        g.column = *column;
        g.row = *row;
        g.lon = *lon;
        g.lat = *lat;
        g.upstreamKm2 = *area;
        g.river = std::string(f[6]);
        gauges.push_back(std::move(g));
    }
    return gauges;
}

/// Adds the observations of gauge_observed.csv to `gauges`.
Status addObservations(std::string_view observedCsv, std::vector<Gauge>& gauges,
                       std::int64_t startSeconds) {
    const std::string obsName = "gauge_observed.csv";
    const auto obsLines = tableLines(observedCsv);
    if (obsLines.empty() || splitFields(obsLines[0].second)[0] != "time") {
        return lineError(obsName, obsLines.empty() ? 1 : obsLines[0].first,
                         "the header must read time,<gauge id>,...");
    }
    std::map<std::string, std::size_t, std::less<>> byId;
    for (std::size_t k = 0; k < gauges.size(); ++k) {
        byId.emplace(gauges[k].id, k);
    }
    const auto header = splitFields(obsLines[0].second);
    std::vector<std::size_t> gaugeOfColumn;
    for (std::size_t c = 1; c < header.size(); ++c) {
        const auto it = byId.find(header[c]);
        if (it == byId.end()) {
            return lineError(obsName, obsLines[0].first,
                             "gauge \"" + quoteToken(header[c]) + "\" is not in gauge_cells.csv.");
        }
        gaugeOfColumn.push_back(it->second);
    }
    for (std::size_t n = 1; n < obsLines.size(); ++n) {
        const auto [number, line] = obsLines[n];
        const auto f = splitFields(line);
        if (f.size() != header.size()) {
            return lineError(obsName, number,
                             "expected " + std::to_string(header.size()) + " fields, found "
                                 + std::to_string(f.size()) + ".");
        }
        const auto time = parseIsoInstant(f[0]);
        if (!time) {
            return lineError(
                obsName, number,
                "\"" + quoteToken(f[0]) + "\" " + time.error().message
                    + (time.error().message == kNotIsoTime ? " (such as 2000-01-01T01:00:00Z)."
                                                           : "."));
        }
        const double hour = static_cast<double>(*time - startSeconds) / 3600.0;
        for (std::size_t c = 1; c < f.size(); ++c) {
            if (f[c].empty()) {
                continue;
            }
            const auto value = parseDouble(f[c]);
            if (!value) {
                return lineError(obsName, number,
                                 "\"" + quoteToken(f[c]) + "\" is not a discharge in m3/s.");
            }
            gauges[gaugeOfColumn[c - 1]].observed.push_back({hour, *value});
        }
    }
    return success();
}

Error cellError(std::size_t line, std::string_view column, const std::string& what) {
    return Error{std::string(kQuantilesName) + " line " + std::to_string(line) + ", column "
                 + std::string(column) + ": " + what};
}

constexpr std::array<std::string_view, 7> kQuantileHeader{"gauge", "time", "q05", "q25",
                                                          "q50",   "q75",  "q95"};

/// The quantile table's header: true when it has the p_exceed column.
Result<bool> quantileHeader(std::span<const std::string_view> header, std::size_t line) {
    const bool shares = header.size() == kQuantileHeader.size() + 1;
    if ((header.size() != kQuantileHeader.size() && !shares)
        || !std::equal(kQuantileHeader.begin(), kQuantileHeader.end(), header.begin())
        || (shares && header.back() != "p_exceed")) {
        return lineError(std::string(kQuantilesName), line,
                         "the header must read gauge,time,q05,q25,q50,q75,q95 and optionally "
                         ",p_exceed.");
    }
    return shares;
}

/// One line of the quantile table after its gauge: the hour and the quantiles.
Result<FanHour> fanLine(std::span<const std::string_view> f, std::size_t line,
                        std::int64_t startSeconds, std::int64_t hours) {
    const auto time = parseIsoInstant(f[1]);
    if (!time) {
        return cellError(
            line, "time",
            "\"" + quoteToken(f[1]) + "\" " + time.error().message
                + (time.error().message == kNotIsoTime ? " (such as 2000-01-01T01:00:00Z)." : "."));
    }
    const std::int64_t after = *time - startSeconds;
    const std::int64_t hour = after / 3600;
    if (after % 3600 != 0 || hour < 1 || hour > hours) {
        return cellError(line, "time",
                         "\"" + quoteToken(f[1])
                             + "\" is not the end of an hour of this case's event (1 to "
                             + std::to_string(hours) + " hours after its start).");
    }
    FanHour out;
    out.hour = static_cast<double>(hour);
    for (std::size_t q = 0; q < out.q.size(); ++q) {
        const auto value = parseDouble(f[q + 2]);
        if (!value || !std::isfinite(*value) || *value < 0.0) {
            return cellError(line, kQuantileHeader[q + 2],
                             "\"" + quoteToken(f[q + 2]) + "\" is not a discharge in m3/s.");
        }
        out.q[q] = *value;
    }
    if (f.size() > kQuantileHeader.size() && !f.back().empty()) {
        const auto share = parseDouble(f.back());
        if (!share || !(*share >= 0.0 && *share <= 1.0)) {
            return cellError(line, "p_exceed",
                             "\"" + quoteToken(f.back()) + "\" is not a share from 0 to 1.");
        }
    }
    return out;
}

}  // namespace

Result<std::vector<Gauge>> parseGauges(std::string_view cellsCsv,
                                       const std::optional<std::string>& observedCsv,
                                       std::int32_t cols, std::int32_t rows,
                                       std::int64_t startSeconds) {
    auto gauges = parseCells(cellsCsv, cols, rows);
    if (!gauges || !observedCsv) {
        return gauges;
    }
    if (auto added = addObservations(*observedCsv, *gauges, startSeconds); !added) {
        return added.error();
    }
    return gauges;
}

Result<std::vector<std::string>> addEnsembleFan(std::string_view quantilesCsv,
                                                std::vector<Gauge>& gauges,
                                                std::int64_t startSeconds, std::int64_t hours) {
    const auto lines = tableLines(quantilesCsv);
    if (lines.empty()) {
        return lineError(std::string(kQuantilesName), 1,
                         "the header must read gauge,time,q05,q25,q50,q75,q95.");
    }
    const auto header = splitFields(lines[0].second);
    if (auto shares = quantileHeader(header, lines[0].first); !shares) {
        return shares.error();
    }
    std::map<std::string, std::size_t, std::less<>> byId;
    for (std::size_t k = 0; k < gauges.size(); ++k) {
        byId.emplace(gauges[k].id, k);
    }
    std::vector<std::vector<FanHour>> fans(gauges.size());
    std::vector<std::string> unknown;
    std::set<std::string, std::less<>> unknownSeen;
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const auto [number, line] = lines[n];
        const auto f = splitFields(line);
        if (f.size() != header.size()) {
            return lineError(std::string(kQuantilesName), number,
                             "expected " + std::to_string(header.size()) + " fields, found "
                                 + std::to_string(f.size()) + ".");
        }
        const auto gauge = byId.find(f[0]);
        if (gauge == byId.end()) {
            if (unknownSeen.emplace(f[0]).second) {
                unknown.emplace_back(f[0]);
            }
            continue;
        }
        auto hour = fanLine(f, number, startSeconds, hours);
        if (!hour) {
            return hour.error();
        }
        std::vector<FanHour>& fan = fans[gauge->second];
        if (!fan.empty() && !(hour->hour > fan.back().hour)) {
            return cellError(number, "time",
                             "\"" + quoteToken(f[1])
                                 + "\" does not come after the previous time of gauge \""
                                 + quoteToken(f[0]) + "\".");
        }
        fan.push_back(*hour);
    }
    for (std::size_t k = 0; k < gauges.size(); ++k) {
        gauges[k].fan = std::move(fans[k]);
    }
    return unknown;
}

}  // namespace hydro::results_page
