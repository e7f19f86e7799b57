// The rainfall file: its blocks read for a rain grid whose size comes from the first input
// bytes (columns, rows, days), and the event's start read from its first block header.
//
// Input: columns - 1 (byte, below 32), rows - 1 (byte, below 32), days - 1 (byte, below 4),
// then the bytes of rain.dat.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "case/event_start.h"
#include "case/rain_grid.h"
#include "fuzz/fuzz_support.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    const hydro::fuzz::DescriptorCheck descriptors;
    hydro::fuzz::ByteCursor in(data, size);
    hydro::EventParameters p;
    p.rainCols = 1 + in.byte() % 32;
    p.rainRows = 1 + in.byte() % 32;
    p.days = 1 + in.byte() % 4;
    p.rainDx = 0.1F;
    p.rainDy = 0.1F;
    p.rainLon0 = -118.293F;
    p.rainLat0 = 34.2814F;
    const auto path = hydro::fuzz::scratchDir() / "rain.dat";
    hydro::fuzz::writeFile(path, in.rest());

    hydro::RainGrid grid = hydro::placeRainPoints(p);
    std::ostringstream echo;
    const auto read = hydro::readRainfall(path, grid, &echo);
    if (read) {
        for (const float value : grid.rain) {
            require(std::isfinite(value), "a rainfall intensity that is not finite was accepted");
        }
        // The nearest point of the grid's own south-west point is that point.
        const float lat = p.rainLat0 * 3600.0F;
        const float lon = p.rainLon0 * 3600.0F;
        require(hydro::findNearestRainCell(lat, lon, grid) == 0, "the nearest point is wrong");
    } else {
        requirePrintableLine(read.error().message);
    }

    const auto start = hydro::readEventStart(path);
    if (!start) {
        requirePrintableLine(start.error().message);
        return 0;
    }
    require(start->month >= 1 && start->month <= 12 && start->day >= 1 && start->day <= 31,
            "an event start that is not a date");
    const std::int64_t hours = std::int64_t{p.days} * 24;
    const std::string end = start->hourEnd(hours);
    require(end.size() >= 20 && end.back() == 'Z', "an event end that is not ISO 8601 UTC");
    const hydro::EventStart again = hydro::fromUnixSeconds(start->unixSeconds());
    require(again.year == start->year && again.month == start->month && again.day == start->day
                && again.hour == start->hour && again.minute == start->minute
                && again.second == start->second,
            "the start does not survive the round trip through seconds");
    static_cast<void>(start->unitsText());
    return 0;
}
