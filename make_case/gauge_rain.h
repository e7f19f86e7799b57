#pragma once

// make_case rain-gauges: hourly rain-gauge records spread over a regular grid of rain points
// by inverse-distance weighting, written as the case's input/rain.dat with the rain-grid
// values and the duration of its param-event.dat.

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "case/event_parameters.h"
#include "common/result.h"

namespace hydro::make_case {

/// One line of the gauge file: the rain of one gauge in one hour.
struct GaugeRecord {
    std::int64_t hourStart = 0;  ///< start of the hour, seconds since 1970-01-01T00:00:00Z
    std::string id;
    double lon = 0.0;  ///< degrees
    double lat = 0.0;  ///< degrees
    double mm = 0.0;   ///< rain of the hour, mm
};

/// Reads the records of a CSV file with the header "time,id,lon,lat,mm"; `name` names the
/// file in the one-line error ("cannot be read" when the stream fails before its first line).
[[nodiscard]] Result<std::vector<GaugeRecord>> readGaugeRecords(std::istream& in,
                                                                const std::string& name);

/// Great-circle distance in km between two points in degrees, on a sphere of 6371.0088 km.
[[nodiscard]] double greatCircleKm(double lon1, double lat1, double lon2, double lat2);

/// The inverse-distance-weighted value (power 2) at a point from the gauges of one hour; a
/// point within 1 m of a gauge takes that gauge's value (the mean of such gauges).
[[nodiscard]] double inverseDistance(const std::vector<const GaugeRecord*>& gauges, double lon,
                                     double lat);

/// The rainfall of an event on a rain grid.
struct GaugeRain {
    EventParameters params;       ///< the case's values with the rain grid and days set
    std::int64_t start = 0;       ///< start of the first hour, seconds since 1970
    std::int32_t gaugeHours = 0;  ///< hours with records; the rest up to days x 24 are dry
    std::int32_t gauges = 0;      ///< distinct gauge ids
    /// mm/h of every hour (days x 24) and point, hour-major, points row 0 south.
    std::vector<float> values;
};

/// Places rain points `spacing` degrees apart over the study grid of `study`, whose outer
/// south-west corner is (`west`, `south`) as the file states it (their cells
/// tile it, the last row and column possibly reaching beyond) and fills every hour from the
/// first record's to the last one's. Errors name the first hour without records, a time off
/// the hourly steps and a gauge listed twice in one hour.
[[nodiscard]] Result<GaugeRain> gridGaugeRain(const std::vector<GaugeRecord>& records,
                                              const EventParameters& study, double west,
                                              double south, double spacing);

/// The text of input/rain.dat: per hour the six header integers (UTC year, month, day, hour,
/// minute, second of its start), then the values from the north row to the south row, each
/// row west to east, as the shortest text that reads back as the same float.
[[nodiscard]] std::string rainFileText(const GaugeRain& rain);

/// Runs `make_case rain-gauges CSV CASE [--spacing DEG]` (args[0] is "rain-gauges"): rain.dat
/// and param-event.dat commit together. Prints its lines on `out`; returns the exit status.
[[nodiscard]] int runRainGauges(const std::vector<std::string>& args, std::ostream& out);

}  // namespace hydro::make_case
