#pragma once

// history.csv: one row per run, in run order, appended as runs finish so that a calibration
// that stops part-way can go on from it (--resume) and reach the history of a calibration
// that never stopped.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "calibrate/objective.h"
#include "calibrate/search.h"
#include "common/result.h"

namespace hydro::calibrate {

/// The header: run, the varied parameters, objective, then per gauge <id>_n, <id>_nse,
/// <id>_kge, <id>_kge_prime, <id>_pbias_pct, <id>_peak_error_pct, <id>_peak_timing_h.
[[nodiscard]] std::string historyHeader(const std::vector<Range>& ranges,
                                        const std::vector<std::string>& gaugeIds);

/// One run's row (without its line break). Numbers in their shortest exact text, an
/// undefined score empty.
[[nodiscard]] std::string historyRow(std::int64_t run, const std::vector<double>& values,
                                     const std::optional<double>& objective,
                                     const std::vector<GaugeScore>& scores);

/// A run read back from a history.
struct RecordedRun {
    std::string line;        ///< the whole row
    std::string valuesText;  ///< the varied values as written, comma-separated
    std::optional<double> objective;
};

/// The complete rows of the history at `path` written with `header` (a last row without its
/// line break, cut by a stop, is left out). Errors name the file: another header, a row out
/// of order or unreadable.
[[nodiscard]] Result<std::vector<RecordedRun>> readHistory(const std::filesystem::path& path,
                                                           const std::string& header,
                                                           std::size_t valueCount);

/// The varied values as a row writes them.
[[nodiscard]] std::string valuesText(const std::vector<double>& values);

}  // namespace hydro::calibrate
