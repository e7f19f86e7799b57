#include "runoff_sim/mpi/parallel_driver.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
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

/// The time loop, tick by tick (see RankStepper). A rank that fails, or learns that another
/// did, stops computing but goes on exchanging to the end, so that no rank waits for ever.
/// Returns the stop code all ranks agree on.
int runTicks(RankStepper& stepper, FramePipeline& frames) {
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

    [[nodiscard]] RunStatus route(const FrameSink& sink, const RouteStart& /*start*/,
                                  const StateSink& /*states*/) override {
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
        switch (runTicks(*stepper_, frames)) {
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
};

}  // namespace

int runRunoffSimParallel(const std::filesystem::path& caseDir, std::ostream& console,
                         const RunOptions& options) {
    MpiExecutor executor;
    if (!options.writeState.empty() || options.stateEvery > 0 || !options.warmStart.empty()
        || !options.resume.empty()) {
        if (executor.holdsCase()) {
            console << "States are not yet written or read under mpirun; run in one process."
                    << std::endl;
        }
        return 1;
    }
    // Only rank 0 speaks; the others' lines go nowhere.
    std::ostream quiet(nullptr);
    return runSimulation(CasePaths{caseDir}, executor.holdsCase() ? console : quiet, executor,
                         options);
}

}  // namespace hydro::runoff
