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
#include <exception>
#include <functional>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "case/grid_cell.h"
#include "physics/conservative_wave.h"
#include "physics/kinematic_wave.h"
#include "routing/discharge_means.h"
#include "routing/rain_cell.h"
#include "routing/river_totals.h"

namespace hydro::runoff {

/// How the kinematic wave is stepped.
enum class Scheme {
    /// The weighted upwind scheme on discharge with an estimated celerity (the simulator's
    /// own since its first version; not volume-conservative).
    kLinear,
    /// The box scheme on storage (physics/conservative_wave.h): volume-conservative.
    kConservative,
};

/// The scheme's name on the command line and in the files ("linear", "conservative").
[[nodiscard]] const char* schemeName(Scheme scheme);

/// Sub-step outflows as they pass from cell to cell (and between ranks), m³/s: the linear
/// scheme hands on its outflow rounded to single precision (the values are exactly those
/// floats), the conservative one in full.
using SeriesValue = double;

/// A cell the time loop runs, in the compact form the engine works on.
struct RoutedCell {
    WaveCell wave;
    double alpha = 0.0;  ///< of the rating curve Q = alpha * A^m
    double flowLength = 0.0;
    float cellWidth = 0.0F;
    std::int32_t rainPoint = 0;      ///< nearest rainfall point
    std::int64_t framePosition = 0;  ///< value index in an output frame
    std::int32_t reader = -1;        ///< routed cell that reads this one's outflow, or -1
    std::int32_t firstSource = 0;    ///< into RoutingPlan::sources
    std::int32_t sourceCount = 0;    ///< filled upstream slots
    std::int32_t readCount = 0;      ///< slots that read a routed cell of this plan
    /// Where this cell's outflow is also handed out of the plan (a cell read by a part of the
    /// basin run elsewhere), or -1.
    std::int32_t exportSlot = -1;
    std::int32_t river = 0;  ///< index of the cell's river in RoutingPlan::riverNumbers
    /// Index of the river whose cell reads this one's outflow, or -1 when no routed cell reads
    /// it (the water leaves the routed cells): kept through the split over ranks.
    std::int32_t drainsInto = -1;
};

/// Everything the time loop needs, built once before it starts. A run never changes it: the
/// same plan may run any number of times and gives the same bytes each time.
struct RoutingPlan {
    Scheme kind = Scheme::kLinear;
    WaveScheme scheme;
    BoxScheme box;
    /// The listed rivers with routed cells, ascending (in the whole plan; a rank's plan keeps
    /// only their count).
    std::vector<std::int32_t> riverNumbers;
    std::int32_t riverCount = 0;
    std::int32_t subStepsPerHour = 0;
    std::int32_t days = 0;
    /// In depth-first post-order of the reading forest, each cell after the cells it reads
    /// (which cell reads which was settled from the sequential order when the plan was built).
    std::vector<RoutedCell> cells;
    /// Per upstream slot, in slot order: the routed cell whose outflow it reads, -1 for a
    /// slot that contributes zero (a cell never run, or run later in the sequential order), or
    /// importSource(i) for a slot that reads import i (an outflow series computed outside the
    /// plan and handed to the engine before each hour).
    std::vector<std::int32_t> sources;
    /// Outflow series handed in from outside the plan, and handed out of it.
    std::int32_t importCount = 0;
    std::int32_t exportCount = 0;
    [[nodiscard]] static constexpr std::int32_t importSource(std::int32_t import) {
        return -2 - import;
    }
    [[nodiscard]] static constexpr std::int32_t importOf(std::int32_t source) {
        return -2 - source;
    }
    /// The grid cell of every routed cell, in cell order (empty in a rank's plan).
    std::vector<CellIndex> gridCells;
    /// Initial node states of every routed cell, spaceSteps + 1 each, in cell order (see
    /// RoutingEngine::nodeStates).
    std::vector<double> initialNodes;
    /// Per routed cell, the lateral inflow (m²/s) of the hour before the run's first, which
    /// the first sub-step averages with the first hour's: empty for a run from the start of
    /// its rainfall (the hour before is dry), set for a run that goes on from a state.
    std::vector<double> initialLateral;
    [[nodiscard]] std::int32_t sourceOf(const RoutedCell& cell, std::int32_t slot) const {
        return sources[static_cast<std::size_t>(cell.firstSource) + static_cast<std::size_t>(slot)];
    }
    /// The scheme of each run of `kind`.
    [[nodiscard]] bool conservative() const { return kind == Scheme::kConservative; }
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
    /// Records `units` finished cell-hours (from any thread) and prints the lines now due.
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
    /// One hour's frame of hourly mean discharges, m³/s (day and hour from 1).
    std::function<bool(std::int32_t day, std::int32_t hour, std::span<const float> frame)> hour;
    /// One day's frames of daily mean discharges and of daily maxima of the hourly means,
    /// m³/s, after the day's 24 hourly frames.
    std::function<bool(std::int32_t day, std::span<const float> dailyMean,
                       std::span<const float> dailyMax)>
        day;
};

/// Where a run starts and at which hours it hands out its state.
struct RouteSchedule {
    /// Hours of the event already run (a resumed run starts after them), 0 otherwise.
    std::int64_t firstHour = 0;
    /// Hours between states (counted from the start of the event), 0 for none.
    std::int32_t stateEvery = 0;
    /// A state at the end of the event as well.
    bool finalState = false;

    [[nodiscard]] bool wantsState(std::int64_t hour, std::int64_t lastHour) const {
        return (stateEvery > 0 && hour % stateEvery == 0) || (finalState && hour == lastHour);
    }
};

/// The day and hour (from 1) of event hour `eventHour` (from 1).
struct DayHour {
    std::int32_t day = 0;
    std::int32_t hour = 0;
};
[[nodiscard]] inline DayHour dayHourOf(std::int64_t eventHour) {
    return {static_cast<std::int32_t>((eventHour - 1) / 24 + 1),
            static_cast<std::int32_t>((eventHour - 1) % 24 + 1)};
}

struct RoutingStats {
    std::int64_t peakStores = 0;  ///< most hourly outflow stores alive at once
};

/// How a run ended.
enum class RunStatus {
    kComplete,     ///< every frame went to the sink
    kSinkRefused,  ///< the sink refused a frame; the run stopped there
    kOutOfMemory,  ///< an allocation failed during the run; the run stopped after that hour
};

namespace engine_detail {

/// Fixed-size stores of one hour's sub-step outflows (single precision, m³/s), handed out and
/// taken back by any thread. Memory grows with the most stores alive at once, not with the
/// basin. Each thread keeps a few free stores of its own, so that the shared list is seldom
/// locked. A store taken back by one thread and handed out again by another passes through
/// the mutex (or stays with one thread), so its old reads happen before its new writes.
class StorePool {
public:
    StorePool(std::size_t valuesPerStore, std::size_t maxStores);

    /// A thread's own free stores.
    struct Cache {
        std::vector<std::int32_t> free;
    };

    /// A free store; may throw std::bad_alloc when the pool has to grow.
    [[nodiscard]] std::int32_t acquire(Cache& cache);
    /// Takes a store back into the thread's cache; may throw std::bad_alloc.
    void release(Cache& cache, std::int32_t slot);
    /// Returns a thread's free stores to the shared list; may throw std::bad_alloc.
    void drain(Cache& cache);
    [[nodiscard]] SeriesValue* data(std::int32_t slot) {
        const auto s = static_cast<std::size_t>(slot);
        return chunks_[s / kChunk].data() + (s % kChunk) * values_;
    }
    /// Stores ever created: the most alive at once, plus what the threads held back.
    [[nodiscard]] std::int64_t created() const { return next_; }

private:
    static constexpr std::size_t kChunk = 256;
    static constexpr std::size_t kCacheSize = 32;
    std::size_t values_;
    std::vector<std::vector<SeriesValue>> chunks_;
    std::mutex mutex_;
    std::vector<std::int32_t> free_;
    std::int32_t next_ = 0;
};

/// Which cell runs next within an hour. A cell is ready once every cell it reads has run
/// through the hour; cells that read nobody (the leaves) are ready at the start and are taken
/// off a shared list a run at a time.
class CellScheduler {
public:
    explicit CellScheduler(const RoutingPlan& plan);
    /// Resets the counts for a new hour. Called outside the parallel region.
    void startHour();
    /// The next run of leaves for a thread, as [first, end) into leaves(); empty when none is
    /// left.
    [[nodiscard]] std::pair<std::size_t, std::size_t> takeLeaves();
    [[nodiscard]] std::int32_t leaf(std::size_t i) const { return leaves_[i]; }
    /// Records that `cell` has run through the hour and published its outflow; returns its
    /// reader when that reader is now ready (its inputs are visible to the calling thread),
    /// or -1.
    [[nodiscard]] std::int32_t completed(std::int32_t cell);
    /// The store that holds `cell`'s outflow of this hour, or -1 for a cell nobody reads.
    [[nodiscard]] std::int32_t storeOf(std::int32_t cell) const {
        return storeOf_[static_cast<std::size_t>(cell)];
    }
    void setStoreOf(std::int32_t cell, std::int32_t slot) {
        storeOf_[static_cast<std::size_t>(cell)] = slot;
    }

private:
    const RoutingPlan* plan_;
    std::vector<std::int32_t> leaves_;
    std::vector<std::atomic<std::int32_t>> pending_;
    std::vector<std::int32_t> storeOf_;
    std::atomic<std::size_t> nextLeaf_{0};
};

/// The output frames: the hourly frame filled cell by cell, and per cell the running daily
/// mean and maximum of its hourly means, turned into the two daily frames at the end of the
/// day. Each routed cell owns its own entries, so threads never write the same one.
class FrameAssembly {
public:
    explicit FrameAssembly(const RoutingPlan& plan);
    /// Starts the daily means and maxima of every routed cell afresh.
    void startDay();
    /// Records routed cell `cell`'s mean discharge of the hour, m³/s.
    void addHourlyMean(std::int32_t cell, std::int64_t framePosition, float mean) {
        hourly_[static_cast<std::size_t>(framePosition)] = mean;
        days_[static_cast<std::size_t>(cell)].addHour(mean);
    }
    [[nodiscard]] std::span<const float> hourly() const { return hourly_; }
    /// Fills the daily frames from the accumulated hours.
    void finishDay();
    [[nodiscard]] std::span<const float> dailyMean() const { return dailyMean_; }
    [[nodiscard]] std::span<const float> dailyMax() const { return dailyMax_; }

private:
    const RoutingPlan* plan_;
    std::vector<float> hourly_;
    std::vector<float> dailyMean_;
    std::vector<float> dailyMax_;
    std::vector<DailyDischargeAccumulator> days_;
};

struct CellHour;
struct HourState {
    std::int32_t day = 0;
    std::int32_t hour = 0;
};

}  // namespace engine_detail

/// Runs a plan through the event, one hour of the whole basin at a time, on the threads of
/// OpenMP. Holds everything a run changes: the node discharges, the outflow stores, the
/// scheduling counts and the frames. The plan and the rainfall must outlive the engine and
/// stay unchanged.
class RoutingEngine {
public:
    /// Prepares a run: allocates the per-run state (may throw std::bad_alloc).
    RoutingEngine(const RoutingPlan& plan, const RainGrid& rain, ProgressPacer& progress);

    /// Runs the event from the plan's initial node discharges, handing each frame to `sink`
    /// as soon as it is complete. May be called again: each call starts afresh.
    [[nodiscard]] RunStatus run(const FrameSink& sink);
    /// The same, from the end of hour `schedule.firstHour` (the plan's initial state is the
    /// state then; `dayFrames` holds the hourly frames of that day so far, firstHour % 24 of
    /// them); after each hour that the schedule wants a state of, `state(hour)` is called
    /// (stateValues() then holds it) and returning false stops the run (kSinkRefused).
    [[nodiscard]] RunStatus run(const FrameSink& sink, const RouteSchedule& schedule,
                                std::span<const float> dayFrames,
                                const std::function<bool(std::int64_t hour)>& state);

    /// The same run an hour at a time, for a caller that exchanges series between hours:
    /// start() resets the state to the plan's initial profile, at the end of event hour
    /// `firstHour`; advance() runs the next hour (day and hour from 1, in order) and returns
    /// kComplete or kOutOfMemory. After it, hourly() holds the hour's frame and, after hour
    /// 24, dailyMean() and dailyMax() the day's.
    void start(std::int64_t firstHour = 0);
    /// After start(), for a run that starts within a day: the hourly frames of the day so far,
    /// which the day's frames include.
    void seedDay(std::span<const float> dayFrames);
    [[nodiscard]] RunStatus advance(std::int32_t day, std::int32_t hour);
    [[nodiscard]] std::span<const float> hourly() const { return frames_.hourly(); }
    [[nodiscard]] std::span<const float> dailyMean() const { return frames_.dailyMean(); }
    [[nodiscard]] std::span<const float> dailyMax() const { return frames_.dailyMax(); }

    /// The sub-step outflow series of import `i` for the next hour, to be filled before
    /// advance(); and of export `i` after the last hour run.
    [[nodiscard]] std::span<SeriesValue> importSeries(std::int32_t i) {
        return std::span(imports_).subspan(static_cast<std::size_t>(i) * subSteps_, subSteps_);
    }
    [[nodiscard]] std::span<const SeriesValue> exportSeries(std::int32_t i) const {
        return std::span(exports_).subspan(static_cast<std::size_t>(i) * subSteps_, subSteps_);
    }

    /// Node states of every routed cell, spaceSteps + 1 each in plan cell order: the initial
    /// profile before a run, the state at the end of the last hour run after it. The linear
    /// scheme's are discharges (m³/s); the conservative scheme's are the inflow of the last
    /// sub-step (m³/s) at node 0 and u = A^(1/3) at the others (physics/conservative_wave.h).
    [[nodiscard]] std::span<const double> nodeStates() const { return nodes_; }

    /// The state at the end of event hour `hourEnded` (the last hour run, or the first hour's
    /// start before any): per routed cell in plan order, its spaceSteps + 1 node states, then
    /// the lateral inflow of that hour (m²/s), into `out` (cells × (spaceSteps + 2) values),
    /// cell c at place slots[c] (or c when `slots` is empty).
    void stateValues(std::int64_t hourEnded, std::span<double> out,
                     std::span<const std::int32_t> slots = {}) const;

    /// Per river of the plan, since start(): the rain its cells took in, and the water they
    /// gave off (the outflow as handed on, see SeriesValue, times the sub-step) out of the
    /// routed cells or into other rivers, and took in from other rivers. Cells and storage are
    /// left to the caller.
    [[nodiscard]] std::vector<RiverTotals> riverTotals() const;

    /// Store counts of the runs so far (stores are kept from one run to the next).
    [[nodiscard]] RoutingStats stats() const { return {pool_.created()}; }

private:
    void runHour(engine_detail::HourState when);
    /// Lateral inflow of routed cell `c` in event hour `hour` (from 0: the hour before the
    /// event).
    [[nodiscard]] double lateralOfHour(std::size_t c, std::int64_t hour) const;
    void work(engine_detail::HourState when);
    void workCells(engine_detail::HourState when, engine_detail::StorePool::Cache& cache);
    void begin(engine_detail::CellHour& h, std::int32_t cell, engine_detail::HourState when,
               engine_detail::StorePool::Cache& cache);
    void finish(engine_detail::CellHour& h, engine_detail::StorePool::Cache& cache);
    template <class Sweep>
    void runOne(engine_detail::CellHour& a) const;
    template <class Sweep>
    void runTwo(engine_detail::CellHour& a, engine_detail::CellHour& b) const;

    const RoutingPlan* plan_;
    const RainGrid* rain_;
    ProgressPacer* progress_;
    std::size_t subSteps_;
    std::size_t nodesPerCell_;
    std::vector<double> nodes_;
    std::int64_t firstHour_ = 0;
    std::vector<SeriesValue> imports_;
    std::vector<SeriesValue> exports_;
    /// Per thread, per river: exact sums, so that the order of the cells does not matter.
    std::vector<std::vector<RiverTotals>> totals_;
    engine_detail::StorePool pool_;
    engine_detail::CellScheduler scheduler_;
    engine_detail::FrameAssembly frames_;
    /// Set by a thread whose allocation failed (or that met any other exception, kept in
    /// error_); the others stop taking cells.
    std::atomic<bool> stopping_{false};
    std::mutex errorMutex_;
    std::exception_ptr error_;
};

/// Starts the OpenMP thread team that every run uses. A runtime that cannot create its threads
/// ends the process without a way to recover, so a program calls this before it touches any
/// output file.
void startThreadTeam();

/// Runs `plan` once through the event; see RoutingEngine.
[[nodiscard]] RunStatus runTimeLoop(const RoutingPlan& plan, const RainGrid& rain,
                                    ProgressPacer& progress, const FrameSink& sink,
                                    RoutingStats* stats = nullptr);

}  // namespace hydro::runoff
