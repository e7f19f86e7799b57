#include "runoff_sim/mpi/parallel_driver.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <new>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#include "runoff_sim/mpi/frame_pipeline.h"
#include "runoff_sim/mpi/ranks.h"
#include "runoff_sim/mpi/series_exchange.h"
#include "runoff_sim/rank_split.h"
#include "runoff_sim/rank_stepper.h"
#include "runoff_sim/rank_transfer.h"
#include "runoff_sim/simulation.h"

namespace hydro::runoff {

namespace {

/// What runTicks does with the snapshot of an hour the schedule wants, once every frame up to
/// it has been written (collective: every rank calls it for the same hours).
using StateStep = std::function<void(std::int64_t hour, FramePipeline& frames)>;

/// The time loop, tick by tick (see RankStepper). A rank that fails, or learns that another
/// did, stops computing but goes on exchanging to the end, so that no rank waits for ever.
/// Returns the stop code all ranks agree on.
int runTicks(RankStepper& stepper, FramePipeline& frames, const StateStep& state) {
    using Clock = std::chrono::steady_clock;
    const auto since = [](Clock::time_point t) {
        return std::chrono::duration<double>(Clock::now() - t).count();
    };
    std::array<double, 3> spent{};  // routing, waiting for series, frames
    SeriesExchange exchange(stepper);
    bool computing = true;
    for (std::int64_t tick = 0; tick < stepper.ticks(); ++tick) {
        auto start = Clock::now();
        exchange.receive(tick);
        spent[1] += since(start);
        start = Clock::now();
        computing = computing && frames.agreed() == kRunning && frames.own() == kRunning;
        if (computing) {
            try {
                if (stepper.runTick(tick) != RunStatus::kComplete) {
                    frames.fail(kMemory);
                }
            } catch (const std::bad_alloc&) {
                frames.fail(kMemory);
            }
        }
        spent[0] += since(start);
        start = Clock::now();
        exchange.send(tick);
        if (const auto hour = stepper.completedHour(tick)) {
            frames.post(0, *hour, stepper.hourValues(*hour), {}, frames.own());
            if (*hour % 24 == 23) {
                frames.post(1, *hour / 24, stepper.dayMeans(*hour / 24),
                            stepper.dayMaxima(*hour / 24), frames.own());
            }
            if (stepper.wantsState(*hour)) {
                // The state follows every frame of its hour on disk.
                frames.drain();
                state(*hour, frames);
            }
        }
        frames.poll();
        spent[2] += since(start);
    }
    auto start = Clock::now();
    frames.drain();
    exchange.finish(stepper.ticks());
    spent[2] += since(start);
    if (std::getenv("HYDRO_RANK_TIMES") != nullptr) {
        // Where each rank's time went, for tuning a cluster run (standard error, rank order
        // not kept).
        int rank = 0;
        MPI_Comm_rank(MPI_COMM_WORLD, &rank);
        std::cerr << "rank " << rank << ": routing " << spent[0] << " s, waiting for series "
                  << spent[1] << " s, frames " << spent[2] << " s, " << stepper.levels()
                  << " levels\n";
    }
    int worst = kRunning;
    const int mine = std::max(frames.own(), frames.agreed());
    MPI_Allreduce(&mine, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    return worst;
}

/// The byte images rank 0 hands out.
struct Images {
    std::vector<std::byte> routes;
    std::vector<std::byte> rain;
    std::vector<std::byte> work;
};

/// The stages over the ranks: rank 0 holds the case and cuts the plan into pieces; every rank
/// runs its own pieces with a RankStepper, and rank 0 gathers the frames.
class MpiExecutor final : public Executor {
public:
    [[nodiscard]] bool holdsCase() const override { return ranks_.root(); }
    [[nodiscard]] Status agree(Status mine) override { return ranks_.agree(std::move(mine)); }

    [[nodiscard]] Status prepare(RoutingPlan plan, RainGrid rain,
                                 ProgressPacer& progress) override {
        progress_ = &progress;
        Images images;
        Status handedOut = handOut(plan, rain, images);
        // Each rank holds only its own cells from now on (and rank 0 where every rank's values
        // go).
        plan = RoutingPlan{};
        if (!handedOut) {
            return handedOut;
        }
        if (ranks_.root()) {
            rain_ = std::move(rain);
        } else {
            routes_ = unpackRoutes(images.routes);
            rain_ = unpackRain(images.rain);
            work_ = unpackRankWork(images.work);
        }
        images = Images{};
        stepper_.emplace(*work_, routes_, ranks_.size(), ranks_.rank(), rain_, quietProgress_);
        return success();
    }

    [[nodiscard]] RunStatus route(const FrameSink& sink, const RouteStart& start,
                                  const StateSink& states) override {
        if (!startAt(start)) {
            return RunStatus::kOutOfMemory;
        }
        // The progress lines follow the frames rank 0 has received: a line once its share of
        // all cell-hours is in, as a run in one process prints them.
        FramePipeline frames(
            ranks_, std::move(counts_), std::move(positions_), frameTemplate_,
            [&](std::int32_t kind, std::int64_t index, std::span<const float> first,
                std::span<const float> second) {
                if (kind == 0) {
                    progress_->advance(routedCells_);
                    return sink.hour(static_cast<std::int32_t>(index / 24) + 1,
                                     static_cast<std::int32_t>(index % 24) + 1, first);
                }
                return sink.day(static_cast<std::int32_t>(index) + 1, first, second);
            });
        frameTemplate_ = {};
        const StateStep state = [&](std::int64_t hour, FramePipeline& pipeline) {
            handState(hour, pipeline, states);
        };
        switch (runTicks(*stepper_, frames, state)) {
            case kWriteFailed:
                return RunStatus::kSinkRefused;
            case kMemory:
                return RunStatus::kOutOfMemory;
            default:
                return RunStatus::kComplete;
        }
    }

    [[nodiscard]] Status gatherWater(std::vector<RiverTotals>& totals) override {
        // Every rank's totals travel to rank 0, which adds them (exactly: the order of the
        // ranks does not matter).
        const std::vector<RiverTotals> mine = stepper_->riverTotals();
        std::vector<std::byte> bytes(mine.size() * sizeof(RiverTotals));
        if (!bytes.empty()) {
            std::memcpy(bytes.data(), mine.data(), bytes.size());
        }
        std::vector<std::byte> all;
        if (!gatherImages(ranks_, bytes, all)) {
            return Error{kNotEnoughMemory, ErrorKind::kOutOfMemory};
        }
        if (ranks_.root() && !totals.empty()) {
            RiverTotals t;
            for (std::size_t at = 0; at + sizeof(RiverTotals) <= all.size();
                 at += sizeof(RiverTotals)) {
                std::memcpy(&t, all.data() + at, sizeof(RiverTotals));
                totals[(at / sizeof(RiverTotals)) % totals.size()].add(t);
            }
        }
        return success();
    }

private:
    /// Every rank learns where the run starts and which states it keeps; a run that starts
    /// after the first hour gets steppers that start there, seeded with the frames of the day
    /// so far. False on every rank when one ran out of memory.
    bool startAt(const RouteStart& start) {
        std::vector<std::byte> image;
        std::vector<std::byte> frames;
        std::array<std::int64_t, 3> schedule{start.schedule.firstHour, start.schedule.stateEvery,
                                             start.schedule.finalState ? 1 : 0};
        bool ok = true;
        try {
            if (ranks_.root()) {
                image.resize(sizeof schedule);
                std::memcpy(image.data(), schedule.data(), sizeof schedule);
                frames.resize(start.dayFrames.size() * sizeof(float));
                if (!frames.empty()) {
                    std::memcpy(frames.data(), start.dayFrames.data(), frames.size());
                }
            }
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        if (!agreeOk(ok) || !broadcastImage(image, ranks_) || !broadcastImage(frames, ranks_)) {
            return false;
        }
        std::memcpy(schedule.data(), image.data(), sizeof schedule);
        const RouteSchedule wanted{schedule[0], static_cast<std::int32_t>(schedule[1]),
                                   schedule[2] != 0};
        try {
            if (wanted.firstHour != stepper_->firstHour()) {
                stepper_.reset();
                stepper_.emplace(*work_, routes_, ranks_.size(), ranks_.rank(), rain_,
                                 quietProgress_, wanted.firstHour);
            }
            std::vector<float> dayFrames(frames.size() / sizeof(float));
            if (!dayFrames.empty()) {
                std::memcpy(dayFrames.data(), frames.data(), frames.size());
            }
            stepper_->seedDay(dayFrames);
            stepper_->keepStates(wanted);
            if (ranks_.root() && (wanted.stateEvery > 0 || wanted.finalState)) {
                stateOrder();
            }
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        return agreeOk(ok);
    }

    /// Whether every rank says `mine`.
    [[nodiscard]] static bool agreeOk(bool mine) {
        return agreeStop(mine ? kRunning : kMemory) == kRunning;
    }

    /// The worst of every rank's stop code `mine`.
    [[nodiscard]] static int agreeStop(int mine) {
        int worst = kRunning;
        MPI_Allreduce(&mine, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
        return worst;
    }

    /// Rank 0: the positions of a state's cells, ascending, and for each the cell's place
    /// among every rank's cells (rank after rank).
    void stateOrder() {
        stateCounts_ = counts_;
        stateFrom_.resize(positions_.size());
        std::iota(stateFrom_.begin(), stateFrom_.end(), std::size_t{0});
        std::sort(stateFrom_.begin(), stateFrom_.end(),
                  [&](std::size_t a, std::size_t b) { return positions_[a] < positions_[b]; });
        statePositions_.resize(positions_.size());
        for (std::size_t at = 0; at < stateFrom_.size(); ++at) {
            statePositions_[at] = static_cast<std::int32_t>(positions_[stateFrom_[at]]);
        }
    }

    /// The state at the end of hour `hour` (from 0): every rank's snapshot gathered on rank 0,
    /// which hands it to `states`; a refusal there stops the run for every rank.
    void handState(std::int64_t hour, FramePipeline& frames, const StateSink& states) {
        RankStepper::Snapshot mine = stepper_->takeSnapshot(hour);
        std::vector<std::byte> bytes;
        bool room = true;
        try {
            const std::size_t valueBytes = mine.values.size() * sizeof(double);
            bytes.resize(valueBytes + mine.totals.size() * sizeof(RiverTotals));
            if (valueBytes > 0) {
                std::memcpy(bytes.data(), mine.values.data(), valueBytes);
            }
            if (!mine.totals.empty()) {
                std::memcpy(bytes.data() + valueBytes, mine.totals.data(),
                            mine.totals.size() * sizeof(RiverTotals));
            }
        } catch (const std::bad_alloc&) {
            room = false;
        }
        mine = {};
        // A rank that stopped (rank 0 when a frame could not be written, which the others
        // have not learnt yet) or has no room stops the state on every rank.
        const int stop = agreeStop(
            std::max({frames.own(), frames.agreed(), room ? int{kRunning} : int{kMemory}}));
        if (stop != kRunning) {
            frames.fail(stop);
            return;
        }
        std::vector<std::byte> all;
        if (!gatherImages(ranks_, bytes, all)) {
            frames.fail(kMemory);
            return;
        }
        if (ranks_.root()) {
            try {
                if (!states(stateOf(hour, all))) {
                    frames.fail(kWriteFailed);
                }
            } catch (const std::bad_alloc&) {
                frames.fail(kMemory);
            }
        }
    }

    /// Rank 0: the BasinState of event hour `hour` + 1 from the gathered snapshots `all`.
    [[nodiscard]] BasinState stateOf(std::int64_t hour, const std::vector<std::byte>& all) const {
        const std::size_t per = stepper_->stateValuesPerCell();
        const auto rivers = static_cast<std::size_t>(work_->plans.front().riverCount);
        BasinState s;
        s.hour = hour + 1;
        s.positions = statePositions_;
        s.totals.resize(rivers);
        // Each rank's image: its values, then its river totals. The values go straight to
        // their places in frame order.
        std::vector<std::size_t> firstCell;
        std::vector<std::size_t> valuesAt;
        std::size_t at = 0;
        std::size_t cell = 0;
        RiverTotals t;
        for (const std::int32_t count : stateCounts_) {
            firstCell.push_back(cell);
            valuesAt.push_back(at);
            at += static_cast<std::size_t>(count) * per * sizeof(double);
            cell += static_cast<std::size_t>(count);
            for (std::size_t r = 0; r < rivers; ++r, at += sizeof(RiverTotals)) {
                std::memcpy(&t, all.data() + at, sizeof(RiverTotals));
                s.totals[r].add(t);
            }
        }
        s.values.resize(stateFrom_.size() * per);
        for (std::size_t j = 0; j < stateFrom_.size(); ++j) {
            const std::size_t from = stateFrom_[j];
            const auto rank = static_cast<std::size_t>(
                std::upper_bound(firstCell.begin(), firstCell.end(), from) - firstCell.begin() - 1);
            std::memcpy(
                s.values.data() + j * per,
                all.data() + valuesAt[rank] + (from - firstCell[rank]) * per * sizeof(double),
                per * sizeof(double));
        }
        return s;
    }

    /// Rank 0 cuts the plan into pieces and hands every other rank its own work, the routes of
    /// the cuts and the rainfall. The verdict of every rank.
    Status handOut(const RoutingPlan& plan, const RainGrid& rain, Images& images) {
        std::optional<Decomposition> d;
        Status split = success();
        if (ranks_.root()) {
            try {
                d = decompose(readersOf(plan), ranks_.size());
                routes_ = cutRoutes(*d);
                images.routes = packRoutes(routes_);
                images.rain = packRain(rain);
                positions_ = framePositionsByRank(plan, *d, counts_);
                frameTemplate_ = plan.frameTemplate;
                routedCells_ = static_cast<std::int64_t>(plan.cells.size());
                work_ = rankWork(plan, *d, 0);
            } catch (const std::bad_alloc&) {
                split = Error{kNotEnoughMemory, ErrorKind::kOutOfMemory};
            }
        }
        if (split = ranks_.agree(std::move(split)); !split) {
            return split;
        }
        const bool sent =
            broadcastImage(images.routes, ranks_) && broadcastImage(images.rain, ranks_)
            && scatterImages(
                ranks_, [&](int r) { return packRankWork(rankWork(plan, *d, r)); }, images.work);
        return ranks_.agree(sent ? success() : Status{Error{kNotEnoughMemory}});
    }

    Ranks ranks_;
    ProgressPacer* progress_ = nullptr;
    /// The steppers' own pacer: the progress lines follow the frames on rank 0 instead.
    ProgressPacer quietProgress_{0, 0, [](std::int64_t) {}};
    std::vector<CutRoute> routes_;
    RainGrid rain_;
    std::optional<RankWork> work_;
    std::optional<RankStepper> stepper_;
    // Rank 0 only: what the frames need.
    std::vector<std::int32_t> counts_;
    std::vector<std::int64_t> positions_;
    std::vector<float> frameTemplate_;
    std::int64_t routedCells_ = 0;
    // Rank 0 only, for a run that keeps states: each rank's cells, the positions of a state's
    // cells and where each comes from among every rank's cells.
    std::vector<std::int32_t> stateCounts_;
    std::vector<std::int32_t> statePositions_;
    std::vector<std::size_t> stateFrom_;
};

}  // namespace

int runRunoffSimParallel(const std::filesystem::path& caseDir, std::ostream& console,
                         const RunOptions& options) {
    MpiExecutor executor;
    // Only rank 0 speaks; the others' lines go nowhere.
    std::ostream quiet(nullptr);
    return runSimulation(CasePaths{caseDir}, executor.holdsCase() ? console : quiet, executor,
                         options);
}

}  // namespace hydro::runoff
