#pragma once

// The gauges' simulated series as a CF discrete-sampling-geometry file (featureType
// timeSeries, orthogonal multidimensional layout): discharge(station, time).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "case/case.h"
#include "common/result.h"
#include "results/gauge_table.h"
#include "results/snapping.h"

namespace hydro::gauges {

struct GaugeNetcdfJob {
    std::filesystem::path file;  ///< written as given (the caller renames it into place)
    std::string name;            ///< the file's final name, for errors; `file`'s when empty
    EventParameters params;
    EventStart start;
    std::string history;
    std::optional<std::string> scheme;  ///< the run's routing scheme, when known
    const std::vector<results::Gauge>* gauges = nullptr;
    const std::vector<results::SnappedGauge>* snapped = nullptr;
    /// Per gauge, hours 1..H, m3/s as stored in the hourly grid.
    const std::vector<std::vector<float>>* series = nullptr;
};

/// Writes the file; the error names it and says what went wrong.
[[nodiscard]] Status writeGaugeNetcdf(const GaugeNetcdfJob& job);

}  // namespace hydro::gauges
