#pragma once

// The ensemble's NetCDF files: the members' series at the gauges as a CF discrete-sampling-
// geometry file (featureType timeSeries) with a realization axis, and the share of members
// whose peak exceeds a discharge as a CF grid.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "case/case.h"
#include "common/result.h"
#include "members/member_runs.h"
#include "results/gauge_table.h"
#include "results/snapping.h"

namespace hydro::ensemble {

/// What both files carry besides their data.
struct NetcdfHeader {
    std::filesystem::path file;  ///< written as given (the caller renames it into place)
    std::string name;            ///< the file's final name, for errors
    EventParameters params;
    EventStart start;
    std::string history;
    std::string scheme;  ///< "linear" or "conservative"
};

struct EnsembleNetcdfJob {
    NetcdfHeader header;
    const std::vector<results::Gauge>* gauges = nullptr;
    const std::vector<results::SnappedGauge>* snapped = nullptr;
    const std::vector<std::string>* memberNames = nullptr;
    const std::vector<members::MemberValues>* memberValues = nullptr;
    const std::vector<std::string>* memberRain = nullptr;  ///< rain file of each, or "case"
    /// series[m][g]: member m's hourly discharge at gauge g, hours 1..H, m3/s.
    const std::vector<std::vector<std::vector<float>>>* series = nullptr;
};

/// Writes discharge(realization, station, time) with the coordinate variable `realization`
/// (standard_name realization, 0..N-1), the label `member`, the member's rain source and its
/// four values as variables over realization, and the stations and hours as gauge_series'
/// file has them. The error names the file.
[[nodiscard]] Status writeEnsembleNetcdf(const EnsembleNetcdfJob& job);

struct ExceedanceNetcdfJob {
    NetcdfHeader header;
    double threshold = 0.0;   ///< m3/s
    std::size_t members = 0;  ///< how many members the shares count
    /// Per frame position (rows from the south, columns from the west), the share of members
    /// whose largest hourly mean is above the threshold; -9999 where the frames hold no data.
    const std::vector<float>* share = nullptr;
};

/// Writes exceedance_probability(lat, lon) on the cell centres. The error names the file.
[[nodiscard]] Status writeExceedanceNetcdf(const ExceedanceNetcdfJob& job);

}  // namespace hydro::ensemble
