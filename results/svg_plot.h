#pragma once

// A hydrograph as an SVG image: the hourly discharge as a line over the hourly basin rainfall,
// drawn as bars hanging from the top of the plot on an axis of its own, with observed
// discharge, where there is some, as a dashed line, and bands of discharge (the spread of an
// ensemble), where given, shaded behind the line.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hydro::results {

/// A shaded band of discharge between two lines, such as the 5 to 95 % range of an ensemble.
struct DischargeBand {
    std::vector<double> low;   ///< m3/s of hours 1..H, each 0 or more
    std::vector<double> high;  ///< m3/s of hours 1..H, each at least `low`
    std::string label;         ///< text of the legend
    double opacity = 0.25;     ///< fill opacity; bands drawn on top of each other add up
};

struct HydrographPlot {
    std::string title;
    std::vector<double> discharge;         ///< m3/s of hours 1..H, each 0 or more
    std::vector<double> rainfall;          ///< mm/h of hours 1..H (missing hours count as 0)
    std::optional<std::size_t> peakIndex;  ///< 0-based hour marked as the peak
    std::string peakLabel;                 ///< text beside the peak mark
    /// Observed m3/s of hours 1..H, empty where missing; no observations when empty.
    std::vector<std::optional<double>> observed;
    /// Bands drawn behind the discharge, in order (the widest first); none when empty. Each
    /// band's length is that of `discharge`.
    std::vector<DischargeBand> bands;
};

/// The whole SVG document (960 x 540 px) of `plot`. Rain bars are drawn for the hours with
/// rain above 0, the discharge as one polyline point per hour at the end of that hour; the
/// observations as one dashed polyline per run of consecutive observed hours (a dot for a run
/// of one hour), on the same axis as the discharge; each band as one closed polygon through
/// its high line forwards and its low line backwards, at the end of each hour. Without bands
/// the document is what it was before bands existed.
[[nodiscard]] std::string renderHydrographSvg(const HydrographPlot& plot);

/// The course of a calibration: the objective of each run (a dot; runs without one are left
/// out) and the best objective so far (a line), with the no-skill line dashed.
struct ProgressPlot {
    std::string title;
    std::string objectiveName;                     ///< e.g. "KGE"
    std::vector<std::optional<double>> objective;  ///< of runs 1..N
    std::optional<double> noSkill;                 ///< drawn as a dashed line when set
};

/// The whole SVG document (960 x 540 px) of `plot`. The axis runs from the lowest objective
/// (not below noSkill - 1, or -1 without one; lower dots sit on the bottom edge) to 1.
[[nodiscard]] std::string renderProgressSvg(const ProgressPlot& plot);

}  // namespace hydro::results
