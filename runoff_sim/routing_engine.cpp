#include "runoff_sim/routing_engine.h"

#include <omp.h>

#include <algorithm>
#include <limits>

namespace hydro::runoff {

// ----------------------------------------------------------------------------------------
// Progress

ProgressPacer::ProgressPacer(std::int64_t lines, std::int64_t totalUnits,
                             std::function<void(std::int64_t)> printLine)
    : lines_(lines), total_(totalUnits), printLine_(std::move(printLine)) {
    nextThreshold_.store(lines_ > 0 ? threshold(0) : std::numeric_limits<std::int64_t>::max());
}

std::int64_t ProgressPacer::threshold(std::int64_t line) const {
    // ceil((line + 1) * total / lines), without overflow.
    __extension__ using Wide = unsigned __int128;
    const Wide product = static_cast<Wide>(line + 1) * static_cast<Wide>(total_);
    const Wide lines = static_cast<Wide>(lines_);
    return static_cast<std::int64_t>((product + lines - 1) / lines);
}

void ProgressPacer::printDue(std::int64_t done) {
    const std::lock_guard lock(mutex_);
    while (nextLine_ < lines_ && threshold(nextLine_) <= done) {
        printLine_(nextLine_);
        ++nextLine_;
    }
    nextThreshold_.store(nextLine_ < lines_ ? threshold(nextLine_)
                                            : std::numeric_limits<std::int64_t>::max());
}

void ProgressPacer::start() {
    printDue(done_.load());
}

void ProgressPacer::advance(std::int64_t units) {
    const std::int64_t done = done_.fetch_add(units) + units;
    if (done >= nextThreshold_.load(std::memory_order_relaxed)) {
        printDue(done);
    }
}

void ProgressPacer::finish() {
    printDue(std::numeric_limits<std::int64_t>::max());
}

// ----------------------------------------------------------------------------------------
// Hourly outflow stores

namespace {

/// Fixed-size stores of one hour's sub-step outflows, handed out and taken back by any
/// thread. Memory grows with the most stores alive at once, not with the basin. Each thread
/// keeps a few free stores of its own, so that the shared list is seldom locked.
class StorePool {
public:
    StorePool(std::size_t valuesPerStore, std::size_t maxStores)
        : values_(valuesPerStore), chunks_((maxStores + kChunk - 1) / kChunk) {}

    /// A thread's own free stores.
    struct Cache {
        std::vector<std::int32_t> free;
    };

    std::int32_t acquire(Cache& cache) {
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
        const std::int32_t slot = next_++;
        auto& chunk = chunks_[static_cast<std::size_t>(slot) / kChunk];
        if (chunk.empty()) {
            chunk.resize(kChunk * values_);
        }
        return slot;
    }

    void release(Cache& cache, std::int32_t slot) {
        cache.free.push_back(slot);
        if (cache.free.size() >= 2 * kCacheSize) {
            const std::lock_guard lock(mutex_);
            free_.insert(free_.end(), cache.free.end() - kCacheSize, cache.free.end());
            cache.free.resize(kCacheSize);
        }
    }

    /// Returns a thread's free stores to the shared list.
    void drain(Cache& cache) {
        const std::lock_guard lock(mutex_);
        free_.insert(free_.end(), cache.free.begin(), cache.free.end());
        cache.free.clear();
    }

    [[nodiscard]] float* data(std::int32_t slot) {
        const auto s = static_cast<std::size_t>(slot);
        return chunks_[s / kChunk].data() + (s % kChunk) * values_;
    }

    /// Stores ever created: the most alive at once, plus what the threads held back.
    [[nodiscard]] std::int64_t created() const { return next_; }

private:
    static constexpr std::size_t kChunk = 256;
    static constexpr std::size_t kCacheSize = 32;
    std::size_t values_;
    std::vector<std::vector<float>> chunks_;
    std::mutex mutex_;
    std::vector<std::int32_t> free_;
    std::int32_t next_ = 0;
};

/// Cells that read no other routed cell, in the plan's order: the plan lays the cells out in
/// depth-first post-order of the reading forest, so a thread working down the list completes
/// whole subtrees and their stores are read and released soon after they are written.
std::vector<std::int32_t> leafOrder(const RoutingPlan& plan) {
    std::vector<std::int32_t> leaves;
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        if (plan.cells[c].readCount == 0) {
            leaves.push_back(static_cast<std::int32_t>(c));
        }
    }
    return leaves;
}

/// Cell-hours a thread finishes before it reports them to the progress lines.
constexpr std::int64_t kProgressBatch = 64;

/// Leaves a thread takes off the shared list at a time.
constexpr std::size_t kLeafRun = 16;

/// Node arrays up to this size are worked on in a private copy.
constexpr std::size_t kLocalNodes = 32;

struct HourState {
    std::int32_t day = 0;
    std::int32_t hour = 0;
};

}  // namespace

// ----------------------------------------------------------------------------------------
// The time loop

namespace {

/// One cell's run through the sub-steps of one hour: its inputs, its private node copy and
/// its outflow store.
struct CellHour {
    std::int32_t cell = -1;
    const RoutedCell* rc = nullptr;
    double lateralPrev = 0.0;
    double lateralNow = 0.0;
    std::array<const float*, kUpstreamSlots> upstream{};
    std::int32_t ownSlot = -1;
    float* own = nullptr;
    /// The hour runs on a private copy of the node discharges, so that threads working on
    /// cells whose nodes share a cache line do not contend for it every sub-step.
    std::array<double, kLocalNodes> local{};
    std::span<double> shared;
    std::span<double> q;
    float sum = 0.0F;

    /// Lateral inflow and summed upstream outflow of sub-step `s`.
    [[nodiscard]] double qLat() const { return (lateralPrev + lateralNow) * 0.5; }
    [[nodiscard]] double inflow(std::size_t s) const {
        double total = 0.0;
        for (std::int32_t i = 0; i < rc->sourceCount; ++i) {
            const float* up = upstream[static_cast<std::size_t>(i)];
            total += static_cast<double>(up != nullptr ? up[s] : 0.0F);
        }
        return total;
    }
    void record(std::size_t s, double outlet) {
        const auto outflow = static_cast<float>(outlet);
        sum += outflow;
        if (own != nullptr) {
            own[s] = outflow;
        }
        lateralPrev = lateralNow;
    }
};

}  // namespace

bool runTimeLoop(RoutingPlan& plan, const RainGrid& rain, ProgressPacer& progress,
                 const FrameSink& sink, RoutingStats* stats) {
    const auto n = static_cast<std::int32_t>(plan.cells.size());
    const auto subSteps = static_cast<std::size_t>(plan.subStepsPerHour);
    const auto nodesPerCell = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
    const float subStepsF = static_cast<float>(plan.subStepsPerHour);

    const std::vector<std::int32_t> leaves = leafOrder(plan);
    std::vector<std::atomic<std::int32_t>> pending(static_cast<std::size_t>(n));
    std::vector<std::int32_t> storeOf(static_cast<std::size_t>(n), -1);
    StorePool pool(subSteps, static_cast<std::size_t>(n));

    std::vector<float> hourFrame = plan.frameTemplate;
    std::vector<float> dailyMean = plan.frameTemplate;
    std::vector<float> dailyMax = plan.frameTemplate;
    std::vector<float> dailyTotal(static_cast<std::size_t>(n));
    std::vector<float> dailyBest(static_cast<std::size_t>(n));
    std::atomic<std::size_t> nextLeaf{0};

    const auto begin = [&](CellHour& h, std::int32_t c, HourState when, StorePool::Cache& cache) {
        const RoutedCell& rc = plan.cells[static_cast<std::size_t>(c)];
        h.cell = c;
        h.rc = &rc;
        const LateralPair lateral = updateLateralInflow(rain, rc.rainPoint, when.day, when.hour,
                                                        rc.cellWidth, rc.flowLength);
        h.lateralPrev = lateral.prev;
        h.lateralNow = lateral.now;
        for (std::int32_t i = 0; i < rc.sourceCount; ++i) {
            const std::int32_t src = plan.sourceOf(rc, i);
            h.upstream[static_cast<std::size_t>(i)] =
                src >= 0 ? pool.data(storeOf[static_cast<std::size_t>(src)]) : nullptr;
        }
        h.ownSlot = -1;
        h.own = nullptr;
        if (rc.reader >= 0) {
            h.ownSlot = pool.acquire(cache);
            h.own = pool.data(h.ownSlot);
        }
        h.shared =
            std::span(plan.nodes.data() + static_cast<std::size_t>(c) * nodesPerCell, nodesPerCell);
        if (nodesPerCell <= kLocalNodes) {
            h.q = std::span(h.local.data(), nodesPerCell);
            std::copy(h.shared.begin(), h.shared.end(), h.q.begin());
        } else {
            h.q = h.shared;
        }
        h.sum = 0.0F;
    };

    const auto finish = [&](CellHour& h, StorePool::Cache& cache) {
        const RoutedCell& rc = *h.rc;
        if (h.q.data() != h.shared.data()) {
            std::copy(h.q.begin(), h.q.end(), h.shared.begin());
        }
        for (std::int32_t i = 0; i < rc.sourceCount; ++i) {
            const std::int32_t src = plan.sourceOf(rc, i);
            if (src >= 0) {
                pool.release(cache, storeOf[static_cast<std::size_t>(src)]);
            }
        }
        storeOf[static_cast<std::size_t>(h.cell)] = h.ownSlot;
        const float mean = h.sum / subStepsF;
        hourFrame[static_cast<std::size_t>(rc.framePosition)] = mean;
        float& total = dailyTotal[static_cast<std::size_t>(h.cell)];
        total += mean;
        float& best = dailyBest[static_cast<std::size_t>(h.cell)];
        if (mean >= best) {
            best = mean;
        }
    };

    // One cell through the hour.
    const auto runOne = [&](CellHour& a) {
        NodeSweep sa(plan.scheme, a.rc->wave, a.q);
        for (std::size_t s = 0; s < subSteps; ++s) {
            sa.start(a.qLat(), a.inflow(s));
            for (std::size_t j = 1; j < nodesPerCell; ++j) {
                sa.node(j);
            }
            a.record(s, sa.outlet());
        }
    };

    // Two independent cells through the hour, node by node in step: the same arithmetic for
    // each, with the library calls of one overlapping those of the other.
    const auto runTwo = [&](CellHour& a, CellHour& b) {
        NodeSweep sa(plan.scheme, a.rc->wave, a.q);
        NodeSweep sb(plan.scheme, b.rc->wave, b.q);
        for (std::size_t s = 0; s < subSteps; ++s) {
            sa.start(a.qLat(), a.inflow(s));
            sb.start(b.qLat(), b.inflow(s));
            for (std::size_t j = 1; j < nodesPerCell; ++j) {
                sa.node(j);
                sb.node(j);
            }
            a.record(s, sa.outlet());
            b.record(s, sb.outlet());
        }
    };

    // Each thread holds up to two cells whose inputs are complete: first the readers that its
    // own cells completed, then leaves off the shared list. The thread that completes a cell's
    // last input goes on with that cell.
    const auto work = [&](HourState when) {
        StorePool::Cache cache;
        std::array<CellHour, 2> hours;
        std::array<std::int32_t, 2> ready{};
        std::size_t readyCount = 0;
        std::int64_t done = 0;  // cell-hours not yet reported to the progress lines
        // Leaves are taken off the shared list a run at a time: neighbours in the list belong
        // to the same subtree, which then stays with one thread.
        std::size_t leaf = 0;
        std::size_t leafEnd = 0;
        for (;;) {
            while (readyCount < 2) {
                if (leaf == leafEnd) {
                    leaf = nextLeaf.fetch_add(kLeafRun);
                    leafEnd = std::min(leaf + kLeafRun, leaves.size());
                    if (leaf >= leaves.size()) {
                        leaf = leafEnd = 0;
                        break;
                    }
                }
                ready[readyCount++] = leaves[leaf++];
            }
            if (readyCount == 0) {
                break;
            }
            for (std::size_t i = 0; i < readyCount; ++i) {
                begin(hours[i], ready[i], when, cache);
            }
            if (readyCount == 2) {
                runTwo(hours[0], hours[1]);
            } else {
                runOne(hours[0]);
            }
            const std::size_t ran = readyCount;
            readyCount = 0;
            for (std::size_t i = 0; i < ran; ++i) {
                finish(hours[i], cache);
                const std::int32_t r = hours[i].rc->reader;
                if (r >= 0 && pending[static_cast<std::size_t>(r)].fetch_sub(1) == 1) {
                    ready[readyCount++] = r;
                }
            }
            done += static_cast<std::int64_t>(ran);
            if (done >= kProgressBatch) {
                progress.advance(done);
                done = 0;
            }
        }
        progress.advance(done);
        pool.drain(cache);
    };

    for (std::int32_t day = 1; day <= plan.days; ++day) {
        std::fill(dailyTotal.begin(), dailyTotal.end(), 0.0F);
        std::fill(dailyBest.begin(), dailyBest.end(), 0.0F);
        for (std::int32_t hour = 1; hour <= 24; ++hour) {
            for (std::int32_t c = 0; c < n; ++c) {
                pending[static_cast<std::size_t>(c)].store(
                    plan.cells[static_cast<std::size_t>(c)].readCount, std::memory_order_relaxed);
            }
            nextLeaf.store(0);
            const HourState when{day, hour};
#pragma omp parallel default(none) shared(work, when)
            work(when);
            if (!sink.hour(day, hour, hourFrame)) {
                return false;
            }
        }
        for (std::int32_t c = 0; c < n; ++c) {
            const auto pos =
                static_cast<std::size_t>(plan.cells[static_cast<std::size_t>(c)].framePosition);
            dailyMean[pos] = dailyTotal[static_cast<std::size_t>(c)] / 24.0F;
            dailyMax[pos] = dailyBest[static_cast<std::size_t>(c)];
        }
        if (!sink.day(day, dailyMean, dailyMax)) {
            return false;
        }
    }
    if (stats != nullptr) {
        stats->peakStores = pool.created();
    }
    return true;
}

}  // namespace hydro::runoff
