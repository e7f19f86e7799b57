// The discharge series file of one cell, parsed for an event whose hour count comes from the
// first two input bytes (little-endian); the rest is the file's text.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "results/series.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    hydro::fuzz::ByteCursor in(data, size);
    const std::int64_t hours = in.word();
    const auto rest = in.rest();
    const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());

    const auto parsed = hydro::results::parseSeries(text, hours);
    if (!parsed) {
        requirePrintableLine(parsed.error().message);
        return 0;
    }
    const auto& series = *parsed;
    require(static_cast<std::int64_t>(series.values.size()) == hours
                && series.tokens.size() == series.values.size(),
            "a series that does not have one value per hour");
    bool missing = false;
    bool discharge = false;
    for (const double v : series.values) {
        require(v == hydro::results::kNoDischarge || v >= 0.0, "a negative discharge");
        (v == hydro::results::kNoDischarge ? missing : discharge) = true;
    }
    require(!(missing && discharge), "a series that mixes -9999 with discharges");
    const auto peak = hydro::results::findPeak(series.values);
    require(peak.has_value() == discharge, "a peak without discharge, or none with it");
    if (peak) {
        require(
            peak->index < series.values.size() && peak->hour >= 1 && peak->hour <= 24
                && (peak->day - 1) * 24 + peak->hour - 1 == static_cast<std::int64_t>(peak->index),
            "a peak outside the series");
    }
    return 0;
}
