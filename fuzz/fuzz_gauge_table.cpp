// The gauge list and the observed discharge table of the result tools on any bytes. The first
// two bytes (little-endian) give the length of the gauge list's text, the next two the event's
// hours (modulo 1000), the next one the hour of its start on 2000-01-01; the rest is the
// observation table. A gauge list that is refused leaves the gauges A and B for the table.
// Whatever the text, the gauges have unique file-safe ids, finite positions and positive
// areas; the observations have one series per gauge, empty or one value per hour, each
// missing or a finite discharge of 0 or more; or the error is one printable line.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "results/gauge_table.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

namespace {

std::string_view textOf(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool isIdText(const std::string& id) {
    if (id.empty() || id.size() > 64 || id.front() == '.') {
        return false;
    }
    return std::ranges::all_of(id, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
               || c == '_' || c == '-' || c == '.';
    });
}

void checkGauges(const std::vector<hydro::results::Gauge>& gauges) {
    require(!gauges.empty(), "a gauge list without gauges");
    std::set<std::string> ids;
    for (const auto& g : gauges) {
        require(isIdText(g.id) && ids.insert(g.id).second, "a gauge id unfit to name a file");
        require(std::isfinite(g.lon) && std::isfinite(g.lat), "a gauge position not finite");
        require(!g.areaKm2 || (std::isfinite(*g.areaKm2) && *g.areaKm2 > 0.0),
                "a gauge area that is not a positive number");
    }
}

void checkObservations(const hydro::results::Observations& obs,
                       const std::vector<hydro::results::Gauge>& gauges, std::int64_t hours) {
    require(obs.series.size() == gauges.size(), "not one series per gauge");
    for (const auto& series : obs.series) {
        require(series.empty() || static_cast<std::int64_t>(series.size()) == hours,
                "a series that does not have one value per hour");
        for (const auto& v : series) {
            require(!v || (std::isfinite(*v) && *v >= 0.0), "an observed discharge below 0");
        }
    }
    require(obs.rowsOutsideEvent >= 0, "a negative count of rows");
    for (const auto& id : obs.unknownIds) {
        for (const auto& g : gauges) {
            require(g.id != id, "a gauge of the list taken as unknown");
        }
    }
}

}  // namespace

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    hydro::fuzz::ByteCursor in(data, size);
    const std::size_t listLength = in.word();
    const std::int64_t hours = in.word() % 1000;
    hydro::EventStart start;
    start.hour = in.byte() % 24;
    const std::string_view list = textOf(in.take(listLength));
    const std::string_view table = textOf(in.rest());

    std::vector<hydro::results::Gauge> gauges;
    if (auto parsed = hydro::results::parseGauges(list, "gauges.csv")) {
        checkGauges(*parsed);
        gauges = std::move(*parsed);
    } else {
        requirePrintableLine(parsed.error().message);
        gauges = {{"A", 0.0, 0.0, std::nullopt, std::nullopt},
                  {"B", 0.0, 0.0, std::nullopt, std::nullopt}};
    }
    const auto obs = hydro::results::parseObservations(table, "observed.csv", gauges, start, hours);
    if (!obs) {
        requirePrintableLine(obs.error().message);
        return 0;
    }
    checkObservations(*obs, gauges, hours);
    return 0;
}
