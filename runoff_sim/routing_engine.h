#pragma once

// The time loop. The results are defined by one sequential order (class by class, each class
// in scan order, every cell through the whole event before the next): a cell reads the
// complete outflow of an upstream cell that this order runs before it, and zeros for one it
// runs later or never. The engine keeps exactly those reads but advances the whole basin one
// hour at a time, so that each hour's sub-step outflows live only until the cell downstream
// has read them, and frames are handed out as soon as they are complete. Within an hour a
// cell runs once every cell it reads has run; any number of threads and any schedule give the
// same bytes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "case/grid_cell.h"
#include "runoff_sim/kinematic_wave.h"
#include "runoff_sim/rain_cell.h"

namespace hydro::runoff {

/// A cell the time loop runs, in the compact form the engine works on.
struct RoutedCell {
    WaveCell wave;
    double flowLength = 0.0;
    float cellWidth = 0.0F;
    std::int32_t rainPoint = 0;      ///< nearest rainfall point
    std::int64_t framePosition = 0;  ///< value index in an output frame
    std::int32_t reader = -1;        ///< routed cell that reads this one's outflow, or -1
    std::int32_t firstSource = 0;    ///< into RoutingPlan::sources
    std::int32_t sourceCount = 0;    ///< filled upstream slots
    std::int32_t readCount = 0;      ///< slots whose outflow is read (not zero)
};

/// Everything the time loop needs, built once before it starts.
struct RoutingPlan {
    WaveScheme scheme;
    std::int32_t subStepsPerHour = 0;
    std::int32_t days = 0;
    /// In depth-first post-order of the reading forest, each cell after the cells it reads
    /// (which cell reads which was settled from the sequential order when the plan was built).
    std::vector<RoutedCell> cells;
    /// Per upstream slot, in slot order: the routed cell whose outflow it reads, or -1 for a
    /// slot that contributes zero (a cell never run, or run later in the sequential order).
    std::vector<std::int32_t> sources;
    /// Node discharges of every routed cell, spaceSteps + 1 each, initial profile first.
    std::vector<double> nodes;
    [[nodiscard]] std::int32_t sourceOf(const RoutedCell& cell, std::int32_t slot) const {
        return sources[static_cast<std::size_t>(cell.firstSource) + static_cast<std::size_t>(slot)];
    }
    /// Output frame with the values of cells that are not routed: -9999 for border cells and
    /// cells off the listed rivers, 0 for listed cells that never run.
    std::vector<float> frameTemplate;
};

/// Prints the progress lines paced by the work done: line k (of `lines`) once (k + 1) / lines
/// of all cell-hours have finished. Thread-safe; lines come out in order.
class ProgressPacer {
public:
    ProgressPacer(std::int64_t lines, std::int64_t totalUnits,
                  std::function<void(std::int64_t line)> printLine);
    /// Prints the lines already due (all of them when there is no work).
    void start();
    void advance(std::int64_t units);
    /// Prints every line not yet printed.
    void finish();

private:
    [[nodiscard]] std::int64_t threshold(std::int64_t line) const;
    void printDue(std::int64_t done);

    std::int64_t lines_;
    std::int64_t total_;
    std::function<void(std::int64_t)> printLine_;
    std::atomic<std::int64_t> done_{0};
    std::atomic<std::int64_t> nextThreshold_{0};
    std::mutex mutex_;
    std::int64_t nextLine_ = 0;
};

/// Receives the frames in file order; returning false stops the run.
struct FrameSink {
    std::function<bool(std::int32_t day, std::int32_t hour, std::span<const float> frame)> hour;
    std::function<bool(std::int32_t day, std::span<const float> dailyMean,
                       std::span<const float> dailyMax)>
        day;
};

struct RoutingStats {
    std::int64_t peakStores = 0;  ///< most hourly outflow stores alive at once
};

/// Runs the event. Returns false when the sink refused a frame.
[[nodiscard]] bool runTimeLoop(RoutingPlan& plan, const RainGrid& rain, ProgressPacer& progress,
                               const FrameSink& sink, RoutingStats* stats = nullptr);

}  // namespace hydro::runoff
