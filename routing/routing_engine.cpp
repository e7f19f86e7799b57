#include "routing/routing_engine.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace hydro::runoff {

const char* schemeName(Scheme scheme) {
    return scheme == Scheme::kConservative ? "conservative" : "linear";
}

// ----------------------------------------------------------------------------------------
// Progress

ProgressPacer::ProgressPacer(std::int64_t lines, std::int64_t totalUnits,
                             std::function<void(std::int64_t)> printLine)
    : lines_(lines), total_(totalUnits), printLine_(std::move(printLine)) {
    nextThreshold_.store(lines_ > 0 ? threshold(0) : std::numeric_limits<std::int64_t>::max(),
                         std::memory_order_relaxed);
}

std::int64_t ProgressPacer::threshold(std::int64_t line) const {
    // ceil((line + 1) * total / lines), without overflow.
    __extension__ using Wide = unsigned __int128;
    const Wide product = static_cast<Wide>(line + 1) * static_cast<Wide>(total_);
    const Wide lines = static_cast<Wide>(lines_);
    return static_cast<std::int64_t>((product + lines - 1) / lines);
}

// The lines and nextLine_ are guarded by the mutex. The two counters carry no data that
// another thread reads through them, so they are relaxed: done_ only needs every addition to
// count once, and nextThreshold_ is a hint that only grows, so a stale read is never above the
// true next threshold and at worst costs a needless visit here.
void ProgressPacer::printDue(std::int64_t done) {
    const std::lock_guard lock(mutex_);
    while (nextLine_ < lines_ && threshold(nextLine_) <= done) {
        printLine_(nextLine_);
        ++nextLine_;
    }
    nextThreshold_.store(
        nextLine_ < lines_ ? threshold(nextLine_) : std::numeric_limits<std::int64_t>::max(),
        std::memory_order_relaxed);
}

void ProgressPacer::start() {
    printDue(done_.load(std::memory_order_relaxed));
}

void ProgressPacer::advance(std::int64_t units) {
    const std::int64_t done = done_.fetch_add(units, std::memory_order_relaxed) + units;
    if (done >= nextThreshold_.load(std::memory_order_relaxed)) {
        printDue(done);
    }
}

void ProgressPacer::finish() {
    printDue(std::numeric_limits<std::int64_t>::max());
}

// ----------------------------------------------------------------------------------------
// Hourly outflow stores

namespace engine_detail {

StorePool::StorePool(std::size_t valuesPerStore, std::size_t maxStores)
    : values_(valuesPerStore), chunks_((maxStores + kChunk - 1) / kChunk) {}

std::int32_t StorePool::acquire(Cache& cache) {
    if (!cache.free.empty()) {
        const std::int32_t slot = cache.free.back();
        cache.free.pop_back();
        return slot;
    }
    const std::lock_guard lock(mutex_);
    if (!free_.empty()) {
        const std::int32_t slot = free_.back();
        free_.pop_back();
        return slot;
    }
    const std::int32_t slot = next_;
    auto& chunk = chunks_[static_cast<std::size_t>(slot) / kChunk];
    if (chunk.empty()) {
        chunk.resize(kChunk * values_);
    }
    // Counted only once its memory exists: a failed growth hands out nothing.
    ++next_;
    return slot;
}

void StorePool::release(Cache& cache, std::int32_t slot) {
    cache.free.push_back(slot);
    if (cache.free.size() >= 2 * kCacheSize) {
        const std::lock_guard lock(mutex_);
        free_.insert(free_.end(), cache.free.end() - kCacheSize, cache.free.end());
        cache.free.resize(kCacheSize);
    }
}

void StorePool::drain(Cache& cache) {
    const std::lock_guard lock(mutex_);
    free_.insert(free_.end(), cache.free.begin(), cache.free.end());
    cache.free.clear();
}

// ----------------------------------------------------------------------------------------
// Scheduling

/// Cells that read no other routed cell, in the plan's order: the plan lays the cells out in
/// depth-first post-order of the reading forest, so a thread working down the list completes
/// whole subtrees and their stores are read and released soon after they are written.
CellScheduler::CellScheduler(const RoutingPlan& plan)
    : plan_(&plan), pending_(plan.cells.size()), storeOf_(plan.cells.size(), -1) {
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        if (plan.cells[c].readCount == 0) {
            leaves_.push_back(static_cast<std::int32_t>(c));
        }
    }
}

namespace {

/// Leaves a thread takes off the shared list at a time: neighbours in the list belong to the
/// same subtree, which then stays with one thread.
constexpr std::size_t kLeafRun = 16;

}  // namespace

void CellScheduler::startHour() {
    // Relaxed: the parallel region that follows starts after these stores (the fork is a
    // synchronisation point of OpenMP), and no thread of the previous hour is still running.
    for (std::size_t c = 0; c < pending_.size(); ++c) {
        pending_[c].store(plan_->cells[c].readCount, std::memory_order_relaxed);
    }
    nextLeaf_.store(0, std::memory_order_relaxed);
}

std::pair<std::size_t, std::size_t> CellScheduler::takeLeaves() {
    // Relaxed: the list of leaves does not change during the hour; the counter only has to
    // hand every run to exactly one thread.
    const std::size_t first = nextLeaf_.fetch_add(kLeafRun, std::memory_order_relaxed);
    if (first >= leaves_.size()) {
        return {0, 0};
    }
    return {first, std::min(first + kLeafRun, leaves_.size())};
}

std::int32_t CellScheduler::completed(std::int32_t cell) {
    const std::int32_t r = plan_->cells[static_cast<std::size_t>(cell)].reader;
    if (r < 0) {
        return -1;
    }
    // The writer of `cell` has filled its store and set storeOf_[cell] before this point.
    // Every decrement releases the writes of its thread and acquires those of the decrements
    // before it (they form one release sequence on the count), so the thread whose decrement
    // takes the count to zero sees every write made into the stores the reader will read and
    // into storeOf_ of the reader's sources. That thread takes the reader. (An acquire fence
    // after a release decrement would do on the hardware, but ThreadSanitizer cannot follow
    // fences.)
    if (pending_[static_cast<std::size_t>(r)].fetch_sub(1, std::memory_order_acq_rel) != 1) {
        return -1;
    }
    return r;
}

// ----------------------------------------------------------------------------------------
// Frames

FrameAssembly::FrameAssembly(const RoutingPlan& plan)
    : plan_(&plan),
      hourly_(plan.frameTemplate),
      dailyMean_(plan.frameTemplate),
      dailyMax_(plan.frameTemplate),
      days_(plan.cells.size()) {}

void FrameAssembly::startDay() {
    std::fill(days_.begin(), days_.end(), DailyDischargeAccumulator{});
}

void FrameAssembly::finishDay() {
    for (std::size_t c = 0; c < days_.size(); ++c) {
        const auto pos = static_cast<std::size_t>(plan_->cells[c].framePosition);
        dailyMean_[pos] = days_[c].mean();
        dailyMax_[pos] = days_[c].max();
    }
}

// ----------------------------------------------------------------------------------------
// One cell through one hour

/// Node arrays up to this size are worked on in a private copy.
constexpr std::size_t kLocalNodes = 32;

/// One cell's run through the sub-steps of one hour: its inputs, its private node copy and
/// its outflow store.
struct CellHour {
    std::int32_t cell = -1;
    const RoutedCell* rc = nullptr;
    double lateralPrev = 0.0;
    double lateralNow = 0.0;
    std::array<const SeriesValue*, kUpstreamSlots> upstream{};
    std::int32_t ownSlot = -1;
    SeriesValue* own = nullptr;
    /// The hour runs on a private copy of the node discharges, so that threads working on
    /// cells whose nodes share a cache line do not contend for it every sub-step.
    std::array<double, kLocalNodes> local{};
    std::span<double> shared;
    std::span<double> q;
    HourlyMeanAccumulator sum;
    double rain = 0.0;     ///< m³ taken in this hour
    double outflow = 0.0;  ///< m³ handed on this hour
    BoxCell box;           ///< the conservative scheme's constants of the cell

    /// Lateral inflow per metre (m²/s) and summed upstream outflow (m³/s) of sub-step `s`.
    [[nodiscard]] double qLat() const { return (lateralPrev + lateralNow) * 0.5; }
    [[nodiscard]] double inflow(std::size_t s) const {
        double total = 0.0;
        for (std::int32_t i = 0; i < rc->sourceCount; ++i) {
            const SeriesValue* up = upstream[static_cast<std::size_t>(i)];
            total += up != nullptr ? up[s] : 0.0;
        }
        return total;
    }
    /// Records sub-step `s`: its outlet discharge, handed on in single precision or, with
    /// `full`, as it is; and the volumes of the sub-step of `dt` seconds with lateral inflow
    /// `lateral` per metre.
    template <bool full>
    void record(std::size_t s, double outlet, double lateral, double dt) {
        const auto single = static_cast<float>(outlet);
        sum.add(single);
        const SeriesValue handed = full ? outlet : static_cast<double>(single);
        if (own != nullptr) {
            own[s] = handed;
        }
        rain += dt * lateral * rc->flowLength;
        outflow += dt * handed;
        lateralPrev = lateralNow;
    }
};

}  // namespace engine_detail

// ----------------------------------------------------------------------------------------
// The engine

using engine_detail::CellHour;
using engine_detail::HourState;
using engine_detail::kLocalNodes;
using engine_detail::StorePool;

namespace {

/// Cell-hours a thread finishes before it reports them to the progress lines.
constexpr std::int64_t kProgressBatch = 64;

}  // namespace

RoutingEngine::RoutingEngine(const RoutingPlan& plan, const RainGrid& rain, ProgressPacer& progress)
    : plan_(&plan),
      rain_(&rain),
      progress_(&progress),
      subSteps_(static_cast<std::size_t>(plan.subStepsPerHour)),
      nodesPerCell_(static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U),
      nodes_(plan.initialNodes),
      imports_(static_cast<std::size_t>(plan.importCount) * subSteps_, 0.0),
      exports_(static_cast<std::size_t>(plan.exportCount) * subSteps_, 0.0),
      totals_(static_cast<std::size_t>(std::max(omp_get_max_threads(), 1)),
              std::vector<RiverTotals>(static_cast<std::size_t>(plan.riverCount))),
      pool_(subSteps_, plan.cells.size()),
      scheduler_(plan),
      frames_(plan) {}

RunStatus RoutingEngine::run(const FrameSink& sink) {
    return run(sink, {}, {}, {});
}

RunStatus RoutingEngine::run(const FrameSink& sink, const RouteSchedule& schedule,
                             std::span<const float> dayFrames,
                             const std::function<bool(std::int64_t)>& state) {
    start(schedule.firstHour);
    seedDay(dayFrames);
    const std::int64_t lastHour = static_cast<std::int64_t>(plan_->days) * 24;
    for (std::int64_t h = schedule.firstHour + 1; h <= lastHour; ++h) {
        const DayHour when = dayHourOf(h);
        if (advance(when.day, when.hour) != RunStatus::kComplete) {
            return RunStatus::kOutOfMemory;
        }
        if (!sink.hour(when.day, when.hour, frames_.hourly())) {
            return RunStatus::kSinkRefused;
        }
        if (when.hour == 24 && !sink.day(when.day, frames_.dailyMean(), frames_.dailyMax())) {
            return RunStatus::kSinkRefused;
        }
        if (schedule.wantsState(h, lastHour) && !state(h)) {
            return RunStatus::kSinkRefused;
        }
    }
    return RunStatus::kComplete;
}

void RoutingEngine::seedDay(std::span<const float> dayFrames) {
    if (dayFrames.empty()) {
        return;
    }
    frames_.startDay();
    const std::size_t frameSize = plan_->frameTemplate.size();
    for (std::size_t at = 0; at + frameSize <= dayFrames.size(); at += frameSize) {
        for (std::size_t c = 0; c < plan_->cells.size(); ++c) {
            const std::int64_t pos = plan_->cells[c].framePosition;
            frames_.addHourlyMean(static_cast<std::int32_t>(c), pos,
                                  dayFrames[at + static_cast<std::size_t>(pos)]);
        }
    }
}

double RoutingEngine::lateralOfHour(std::size_t c, std::int64_t hour) const {
    if (hour == firstHour_ && !plan_->initialLateral.empty()) {
        return plan_->initialLateral[c];
    }
    const RoutedCell& rc = plan_->cells[c];
    // Hour 0 is the last of day 0, which the rainfall holds dry.
    const std::int32_t day = hour == 0 ? 0 : dayHourOf(hour).day;
    const std::int32_t index = hour == 0 ? 23 : dayHourOf(hour).hour - 1;
    return lateralInflow(rain_->rainAt(rc.rainPoint, day, index), rc.cellWidth, rc.flowLength);
}

void RoutingEngine::stateValues(std::int64_t hourEnded, std::span<double> out,
                                std::span<const std::int32_t> slots) const {
    const std::size_t per = nodesPerCell_ + 1;
    for (std::size_t c = 0; c < plan_->cells.size(); ++c) {
        const std::size_t at = slots.empty() ? c : static_cast<std::size_t>(slots[c]);
        std::copy_n(nodes_.begin() + static_cast<std::ptrdiff_t>(c * nodesPerCell_), nodesPerCell_,
                    out.begin() + static_cast<std::ptrdiff_t>(at * per));
        out[at * per + nodesPerCell_] = lateralOfHour(c, hourEnded);
    }
}

void RoutingEngine::start(std::int64_t firstHour) {
    firstHour_ = firstHour;
    std::copy(plan_->initialNodes.begin(), plan_->initialNodes.end(), nodes_.begin());
    for (auto& thread : totals_) {
        std::fill(thread.begin(), thread.end(), RiverTotals{});
    }
    stopping_.store(false, std::memory_order_relaxed);
}

RunStatus RoutingEngine::advance(std::int32_t day, std::int32_t hour) {
    if (hour == 1) {
        frames_.startDay();
    }
    runHour({day, hour});
    // After the parallel region: its closing barrier makes every thread's writes to the
    // frame, the flag and error_ visible here.
    if (error_) {
        std::rethrow_exception(std::exchange(error_, nullptr));
    }
    if (stopping_.load(std::memory_order_relaxed)) {
        // Only a failed allocation stops the threads without leaving an error.
        return RunStatus::kOutOfMemory;
    }
    if (hour == 24) {
        frames_.finishDay();
    }
    return RunStatus::kComplete;
}

void RoutingEngine::runHour(HourState when) {
    scheduler_.startHour();
    // One set of river totals per thread the region may have (the count may have been raised
    // since the engine was made).
    const auto threads = static_cast<std::size_t>(std::max(omp_get_max_threads(), 1));
    if (totals_.size() < threads) {
        totals_.resize(threads, std::vector<RiverTotals>(totals_.front().size()));
    }
    // Everything written before the fork (the counts, the nodes and frames of the previous
    // hour) happens before the threads' work, and everything they write happens before the
    // code after the join.
#pragma omp parallel default(none) shared(when)
    work(when);
}

void RoutingEngine::work(HourState when) {
    // No exception may leave a parallel region. A failed allocation stops this thread and,
    // through the flag, the others at their next cell; the run then ends after this hour.
    // The cells left unrun leave their readers waiting, which no thread waits for: every
    // thread simply runs out of ready cells.
    try {
        StorePool::Cache cache;
        workCells(when, cache);
        pool_.drain(cache);
    } catch (const std::bad_alloc&) {
        stopping_.store(true, std::memory_order_relaxed);
    } catch (...) {
        stopping_.store(true, std::memory_order_relaxed);
        const std::lock_guard lock(errorMutex_);
        if (!error_) {
            error_ = std::current_exception();
        }
    }
}

// Each thread holds up to two cells whose inputs are complete: first the readers that its own
// cells completed, then leaves off the shared list. The thread that completes a cell's last
// input goes on with that cell.
void RoutingEngine::workCells(HourState when, StorePool::Cache& cache) {
    std::array<CellHour, 2> hours;
    std::array<std::int32_t, 2> ready{};
    std::size_t readyCount = 0;
    std::int64_t done = 0;  // cell-hours not yet reported to the progress lines
    std::pair<std::size_t, std::size_t> leaves{0, 0};
    for (;;) {
        if (stopping_.load(std::memory_order_relaxed)) {
            return;
        }
        while (readyCount < 2) {
            if (leaves.first == leaves.second) {
                leaves = scheduler_.takeLeaves();
                if (leaves.first == leaves.second) {
                    break;
                }
            }
            ready[readyCount++] = scheduler_.leaf(leaves.first++);
        }
        if (readyCount == 0) {
            break;
        }
        for (std::size_t i = 0; i < readyCount; ++i) {
            begin(hours[i], ready[i], when, cache);
        }
        const bool conservative = plan_->conservative();
        if (readyCount == 2) {
            if (conservative) {
                runTwo<BoxSweep>(hours[0], hours[1]);
            } else {
                runTwo<NodeSweep>(hours[0], hours[1]);
            }
        } else if (conservative) {
            runOne<BoxSweep>(hours[0]);
        } else {
            runOne<NodeSweep>(hours[0]);
        }
        const std::size_t ran = readyCount;
        readyCount = 0;
        for (std::size_t i = 0; i < ran; ++i) {
            finish(hours[i], cache);
            if (const std::int32_t r = scheduler_.completed(hours[i].cell); r >= 0) {
                ready[readyCount++] = r;
            }
        }
        done += static_cast<std::int64_t>(ran);
        if (done >= kProgressBatch) {
            progress_->advance(done);
            done = 0;
        }
    }
    progress_->advance(done);
}

void RoutingEngine::begin(CellHour& h, std::int32_t c, HourState when, StorePool::Cache& cache) {
    const RoutedCell& rc = plan_->cells[static_cast<std::size_t>(c)];
    h.cell = c;
    h.rc = &rc;
    const LateralPair lateral =
        updateLateralInflow(*rain_, rc.rainPoint, when.day, when.hour, rc.cellWidth, rc.flowLength);
    h.lateralPrev = lateral.prev;
    h.lateralNow = lateral.now;
    if (!plan_->initialLateral.empty()
        && (when.day - 1) * std::int64_t{24} + when.hour == firstHour_ + 1) {
        // The hour before a run that goes on from a state: as the state holds it.
        h.lateralPrev = plan_->initialLateral[static_cast<std::size_t>(c)];
    }
    for (std::int32_t i = 0; i < rc.sourceCount; ++i) {
        const std::int32_t src = plan_->sourceOf(rc, i);
        const SeriesValue* up = nullptr;
        if (src >= 0) {
            up = pool_.data(scheduler_.storeOf(src));
        } else if (src != -1) {
            up = imports_.data() + static_cast<std::size_t>(RoutingPlan::importOf(src)) * subSteps_;
        }
        h.upstream[static_cast<std::size_t>(i)] = up;
    }
    h.ownSlot = -1;
    h.own = nullptr;
    if (rc.reader >= 0) {
        h.ownSlot = pool_.acquire(cache);
        h.own = pool_.data(h.ownSlot);
    } else if (rc.exportSlot >= 0) {
        h.own = exports_.data() + static_cast<std::size_t>(rc.exportSlot) * subSteps_;
    }
    h.shared =
        std::span(nodes_.data() + static_cast<std::size_t>(c) * nodesPerCell_, nodesPerCell_);
    if (nodesPerCell_ <= kLocalNodes) {
        h.q = std::span(h.local.data(), nodesPerCell_);
        std::copy(h.shared.begin(), h.shared.end(), h.q.begin());
    } else {
        h.q = h.shared;
    }
    h.sum = {};
    h.rain = 0.0;
    h.outflow = 0.0;
    if (plan_->conservative()) {
        h.box = BoxCell::of(plan_->box, rc.wave.dx, rc.alpha);
    }
}

void RoutingEngine::finish(CellHour& h, StorePool::Cache& cache) {
    const RoutedCell& rc = *h.rc;
    if (h.q.data() != h.shared.data()) {
        std::copy(h.q.begin(), h.q.end(), h.shared.begin());
    }
    for (std::int32_t i = 0; i < rc.sourceCount; ++i) {
        const std::int32_t src = plan_->sourceOf(rc, i);
        if (src >= 0) {
            pool_.release(cache, scheduler_.storeOf(src));
        }
    }
    if (rc.exportSlot >= 0 && h.ownSlot >= 0) {
        // Read here and handed out as well: the series the reader here reads.
        std::copy(
            h.own, h.own + subSteps_,
            exports_.begin()
                + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(rc.exportSlot) * subSteps_));
    }
    scheduler_.setStoreOf(h.cell, h.ownSlot);
    std::vector<RiverTotals>& totals = totals_[static_cast<std::size_t>(omp_get_thread_num())];
    RiverTotals& own = totals[static_cast<std::size_t>(rc.river)];
    own.rain.add(h.rain);
    if (rc.drainsInto < 0) {
        own.leaving.add(h.outflow);
    } else if (rc.drainsInto != rc.river) {
        own.toOtherRivers.add(h.outflow);
        totals[static_cast<std::size_t>(rc.drainsInto)].inflow.add(h.outflow);
    }
    frames_.addHourlyMean(h.cell, rc.framePosition, h.sum.mean(plan_->subStepsPerHour));
}

namespace {

template <class Sweep>
Sweep sweepOf(const RoutingPlan& plan, const CellHour& h);
template <>
NodeSweep sweepOf<NodeSweep>(const RoutingPlan& plan, const CellHour& h) {
    return {plan.scheme, h.rc->wave, h.q};
}
template <>
BoxSweep sweepOf<BoxSweep>(const RoutingPlan& plan, const CellHour& h) {
    return {plan.box, h.box, h.q};
}

}  // namespace

// One cell through the hour. The loop bounds are copied into locals, which the compiler keeps in
// registers across the node updates.
template <class Sweep>
void RoutingEngine::runOne(CellHour& a) const {
    constexpr bool kFull = std::is_same_v<Sweep, BoxSweep>;
    const std::size_t subSteps = subSteps_;
    const std::size_t nodes = nodesPerCell_;
    const double dt = plan_->scheme.dt;
    Sweep sa = sweepOf<Sweep>(*plan_, a);
    for (std::size_t s = 0; s < subSteps; ++s) {
        const double la = a.qLat();
        sa.start(la, a.inflow(s));
        for (std::size_t j = 1; j < nodes; ++j) {
            sa.node(j);
        }
        a.template record<kFull>(s, sa.outlet(), la, dt);
    }
}

// Two independent cells through the hour, node by node in step: the same arithmetic for each,
// with the library calls of one overlapping those of the other.
template <class Sweep>
void RoutingEngine::runTwo(CellHour& a, CellHour& b) const {
    constexpr bool kFull = std::is_same_v<Sweep, BoxSweep>;
    const std::size_t subSteps = subSteps_;
    const std::size_t nodes = nodesPerCell_;
    const double dt = plan_->scheme.dt;
    Sweep sa = sweepOf<Sweep>(*plan_, a);
    Sweep sb = sweepOf<Sweep>(*plan_, b);
    for (std::size_t s = 0; s < subSteps; ++s) {
        const double la = a.qLat();
        const double lb = b.qLat();
        sa.start(la, a.inflow(s));
        sb.start(lb, b.inflow(s));
        for (std::size_t j = 1; j < nodes; ++j) {
            sa.node(j);
            sb.node(j);
        }
        a.template record<kFull>(s, sa.outlet(), la, dt);
        b.template record<kFull>(s, sb.outlet(), lb, dt);
    }
}

std::vector<RiverTotals> RoutingEngine::riverTotals() const {
    std::vector<RiverTotals> all(totals_.front().size());
    for (const auto& thread : totals_) {
        for (std::size_t r = 0; r < all.size(); ++r) {
            all[r].add(thread[r]);
        }
    }
    return all;
}

void startThreadTeam() {
    // The team of the first parallel region is kept for the later ones of the same size.
    int threads = 0;
#pragma omp parallel default(none) shared(threads)
    {
#pragma omp single
        threads = omp_get_num_threads();
    }
    static_cast<void>(threads);
}

RunStatus runTimeLoop(const RoutingPlan& plan, const RainGrid& rain, ProgressPacer& progress,
                      const FrameSink& sink, RoutingStats* stats) {
    RoutingEngine engine(plan, rain, progress);
    const RunStatus status = engine.run(sink);
    if (stats != nullptr) {
        *stats = engine.stats();
    }
    return status;
}

}  // namespace hydro::runoff
