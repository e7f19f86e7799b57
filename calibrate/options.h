#pragma once

// The command line of calibrate.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "calibrate/objective.h"
#include "calibrate/search.h"
#include "case/channel_width.h"
#include "common/result.h"
#include "routing/routing_engine.h"

namespace hydro::calibrate {

enum class Algorithm { kDds, kLhs };

struct Options {
    std::filesystem::path caseDir;
    std::filesystem::path gaugesPath;
    std::filesystem::path observedPath;
    std::vector<Range> ranges;
    Algorithm algorithm = Algorithm::kDds;
    std::int64_t budget = 200;
    Objective objective = Objective::kKge;
    std::vector<std::pair<std::string, double>> weights;  ///< gauge id, weight
    std::uint64_t seed = 1;
    std::int64_t warmupHours = 0;
    std::int64_t radius = 1;
    runoff::Scheme scheme = runoff::Scheme::kLinear;
    ChannelWidthLaw channelWidth;  ///< of every run's channel cells
    int memberThreads = 0;         ///< members side by side; 0 chooses
    std::int64_t batch = 1;
    bool apply = false;
    bool resume = false;
    bool help = false;
};

/// Largest budget: far beyond any calibration, and small enough for the history's run numbers.
inline constexpr std::int64_t kLargestBudget = 1000000;

inline constexpr const char* kUsage =
    "Usage: calibrate CASE_DIR GAUGES.csv OBSERVED.csv --vary NAME=MIN:MAX[:log] ... [options] "
    "(calibrate --help tells more)";

/// The options of `args`, or the one line that says what is wrong with them.
[[nodiscard]] Result<Options> parseOptions(std::span<const std::string> args);

}  // namespace hydro::calibrate
