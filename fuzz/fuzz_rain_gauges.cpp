// The hourly rain-gauge records of make_case rain-gauges on any bytes: the input is the CSV
// file's text. Whatever the text, the result is a non-empty list of records, each with an id,
// an hour start within the years 1 to 9999, a position on the globe and 0 to 1000 mm, or one
// printable line. Records that are read are then spread over a study grid of 24 x 24 cells at
// 0 E 0 N with points 0.1 degrees apart: every hour from the first record's to the last one's
// has a value per point, finite and within the records' range, or the error is one printable
// line.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "case/time_parse.h"
#include "fuzz/fuzz_support.h"
#include "make_case/gauge_rain.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

namespace {

void checkGridded(const std::vector<hydro::make_case::GaugeRecord>& records) {
    hydro::EventParameters study;
    study.studyCols = 24;
    study.studyRows = 24;
    const auto rain = hydro::make_case::gridGaugeRain(records, study, 0.0, 0.0, 0.1);
    if (!rain) {
        requirePrintableLine(rain.error().message);
        return;
    }
    const auto points = static_cast<std::size_t>(rain->params.rainCols)
                        * static_cast<std::size_t>(rain->params.rainRows);
    require(points == 4 && rain->params.days >= 1
                && rain->values.size() == static_cast<std::size_t>(rain->params.days) * 24 * points,
            "a rain grid that is not 2 x 2 points for every hour of its days");
    require(rain->gaugeHours >= 1 && rain->gaugeHours <= rain->params.days * 24,
            "more hours with records than the event holds");
    double most = 0.0;
    for (const auto& r : records) {
        most = std::max(most, r.mm);
    }
    for (const float v : rain->values) {
        require(std::isfinite(v) && v >= 0.0F && static_cast<double>(v) <= most * (1.0 + 1e-6),
                "gridded rain outside the range of the records");
    }
}

}  // namespace

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const auto parsed = hydro::make_case::readGaugeRecords(in, "gauges.csv");
    if (!parsed) {
        requirePrintableLine(parsed.error().message);
        return 0;
    }
    require(!parsed->empty(), "a gauge file without records");
    for (const auto& r : *parsed) {
        require(!r.id.empty(), "a record without a gauge id");
        require(r.hourStart >= hydro::kFirstInstant && r.hourStart <= hydro::kLastInstant,
                "a record time out of range");
        require(r.lon >= -180.0 && r.lon <= 180.0 && r.lat >= -90.0 && r.lat <= 90.0,
                "a gauge off the globe");
        require(std::isfinite(r.mm) && r.mm >= 0.0 && r.mm <= 1000.0, "rain out of range");
    }
    checkGridded(*parsed);
    return 0;
}
