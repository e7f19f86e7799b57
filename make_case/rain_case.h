#pragma once

// make_case rain: a rainfall product onto the case's rain grid. The points are the product's
// own grid points (no interpolation), cut to the smallest window that leaves every simulated
// cell with the nearest point it has in the full grid; optional losses turn the rain into
// effective rain; input/rain.dat and the rain-grid values and days of param-event.dat are
// written together.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "case/case.h"
#include "make_case/rain_source.h"

namespace hydro::make_case {

enum class LossMethod { kNone, kInitialConstant, kCurveNumber };

struct LossOptions {
    LossMethod method = LossMethod::kNone;
    double initialLoss = 0.0;   ///< mm
    double constantLoss = 0.0;  ///< mm per hour
    std::optional<double> curveNumber;
    std::optional<std::filesystem::path> curveNumberRaster;
};

struct RainOptions {
    RainReadOptions read;
    std::filesystem::path caseDir;
    LossOptions loss;
    /// Dry hours (no rain) appended after the product's last hour (--then-dry), so that the run
    /// goes on past the rain; an assumption, said on the console as one.
    std::int32_t thenDry = 0;
};

/// The effective rain of each hour (mm) from the hourly rain (mm): the first `initialLoss` mm
/// are lost, then at most `constantLoss` mm each hour.
[[nodiscard]] std::vector<double> initialConstantLoss(std::span<const double> rain,
                                                      double initialLoss, double constantLoss);

/// The effective rain of each hour (mm) by the SCS curve number: S = 25400 / CN - 254,
/// Ia = 0.2 S, cumulative effective rain (P - Ia)^2 / (P + 0.8 S) once P exceeds Ia.
[[nodiscard]] std::vector<double> curveNumberLoss(std::span<const double> rain, double cn);

/// Part of the product's grid: rows and columns from the south-west.
struct RainWindow {
    std::int32_t row0 = 0;
    std::int32_t col0 = 0;
    std::int32_t rows = 0;
    std::int32_t cols = 0;
    float dx = 0.0F;
    float dy = 0.0F;
    float lon0 = 0.0F;  ///< centre of the window's south-west point
    float lat0 = 0.0F;
    std::vector<std::int32_t> nearest;  ///< window point of each simulated cell
    std::vector<CellIndex> cells;       ///< the simulated cells
};

/// Checks that the product covers the study area with a margin of one of its cells and finds
/// the window. Errors name the file and the missing side.
[[nodiscard]] Result<RainWindow> chooseWindow(const RainSeries& series, const CaseData& data,
                                              const std::string& source);

/// Shortest decimal text that reads back as the same float.
[[nodiscard]] std::string floatText(float v);

/// Runs `make_case rain` with parsed options.
[[nodiscard]] int runRain(const RainOptions& options, std::ostream& out, std::ostream& progress);

/// Parses the options after `rain` and runs it.
[[nodiscard]] int runRainCommand(const std::vector<std::string>& args, std::ostream& out,
                                 std::ostream& progress);

}  // namespace hydro::make_case
