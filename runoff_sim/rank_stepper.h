#pragma once

// One rank's share of a run spread over ranks, tick by tick, without any transport of its own:
// the caller moves the messages between ranks (MPI in the simulator, plain copies in tests).
// At tick t the rank runs level k through hour firstHour + t - k (hours from 0);
// docs/parallel.md describes the flow.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "routing/routing_engine.h"
#include "runoff_sim/rank_split.h"
#include "runoff_sim/water_balance.h"

namespace hydro::runoff {

class RankStepper {
public:
    /// A rank that this one exchanges series with, and the values of each tick's message.
    struct Link {
        std::int32_t rank = 0;
        std::size_t values = 0;
    };

    /// This rank's part of a state of the basin at the end of an hour: its cells' values
    /// (RoutingEngine::stateValues, spaceSteps + 2 per cell) level after level, in the order of
    /// RankWork::framePositions, and the engines' river totals (RoutingEngine::riverTotals)
    /// added up.
    struct Snapshot {
        std::vector<double> values;
        std::vector<RiverTotals> totals;
    };

    /// Prepares rank `rank`'s run (of `ranks`) of `work`, with the routes of every cut of the
    /// decomposition, from the end of hour `firstHour` of the event (the plans' initial state is
    /// the state then); may throw std::bad_alloc. `work` and `rain` must outlive the stepper.
    RankStepper(const RankWork& work, std::span<const CutRoute> routes, std::int32_t ranks,
                std::int32_t rank, const RainGrid& rain, ProgressPacer& progress,
                std::int64_t firstHour = 0);

    /// Ticks of the run: hours - firstHour + levels - 1.
    [[nodiscard]] std::int64_t ticks() const { return hours_ - firstHour_ + levels_ - 1; }
    [[nodiscard]] std::int32_t levels() const { return levels_; }
    [[nodiscard]] std::int64_t hours() const { return hours_; }
    [[nodiscard]] std::int64_t firstHour() const { return firstHour_; }

    /// Before the first tick of a run that starts within a day: the whole hourly frames of
    /// that day so far (firstHour % 24 of them, back to back), which the day's frames include.
    void seedDay(std::span<const float> dayFrames);

    /// The states the run keeps (before the first tick): a snapshot of every hour (from 0)
    /// whose event hour (hour + 1) `schedule` wants.
    void keepStates(const RouteSchedule& schedule) { schedule_ = schedule; }
    [[nodiscard]] bool wantsState(std::int64_t hour) const {
        return schedule_.wantsState(hour + 1, hours_);
    }
    /// The snapshot of hour `hour`, complete from the tick that completes the hour, handed
    /// over once (a rank without cells gets no values and zero totals).
    [[nodiscard]] Snapshot takeSnapshot(std::int64_t hour);
    /// Values per cell in a snapshot.
    [[nodiscard]] std::size_t stateValuesPerCell() const {
        return static_cast<std::size_t>(work_->plans.front().scheme.spaceSteps) + 2U;
    }

    /// Ranks this one receives from and sends to, in rank order.
    [[nodiscard]] const std::vector<Link>& inbound() const { return inbound_; }
    [[nodiscard]] const std::vector<Link>& outbound() const { return outbound_; }
    /// Where the message of inbound link `i` sent at the previous tick goes before
    /// unpack(tick).
    [[nodiscard]] std::span<SeriesValue> inbox(std::size_t i) { return inboxes_[i]; }
    /// The message for outbound link `i` filled by tick `tick` (two ticks' messages are kept,
    /// so that one may still be in transit while the next is filled).
    [[nodiscard]] std::span<const SeriesValue> outbox(std::size_t i, std::int64_t tick) const {
        return outboxes_[static_cast<std::size_t>(tick % 2)][i];
    }

    /// Takes in the series of the inbound messages of tick - 1 (nothing to do at tick 0).
    void unpack(std::int64_t tick);
    /// Runs every level through its hour of `tick` and fills the outbound messages; returns
    /// kOutOfMemory when an allocation failed (the tick's results are then incomplete).
    [[nodiscard]] RunStatus runTick(std::int64_t tick);

    /// The hour (from 0) whose frame tick `tick` completes, if any.
    [[nodiscard]] std::optional<std::int64_t> completedHour(std::int64_t tick) const;
    /// The rank's values of hour `hour` (in the order of RankWork::framePositions), valid
    /// from the tick that completes it until the next runTick.
    [[nodiscard]] std::span<const float> hourValues(std::int64_t hour) const;
    /// The rank's daily means and maxima of day `day` (from 0), valid likewise once the hour
    /// that ends the day is complete.
    [[nodiscard]] std::span<const float> dayMeans(std::int64_t day) const;
    [[nodiscard]] std::span<const float> dayMaxima(std::int64_t day) const;

    /// The series import `slot` of level `level` was given for its last hour, and its cut.
    [[nodiscard]] std::span<const SeriesValue> importedSeries(std::int32_t level,
                                                              std::int32_t slot);
    [[nodiscard]] std::int32_t importCount(std::int32_t level) const {
        return static_cast<std::int32_t>(importRing_[static_cast<std::size_t>(level)].size());
    }
    [[nodiscard]] std::int32_t importCut(std::int32_t level, std::int32_t slot) const {
        return work_->importCut[static_cast<std::size_t>(level)][static_cast<std::size_t>(slot)];
    }

    /// The river totals (finalTotals) of the rank's cells after its last tick.
    [[nodiscard]] std::vector<RiverTotals> riverTotals() const;

private:
    /// Where an export of a level goes: a local ring, or a place in an outbound message.
    struct Destination {
        std::int32_t ring = -1;
        std::int32_t link = -1;
        std::size_t offset = 0;
    };
    /// A series of an inbound message and the ring it goes into.
    struct Arrival {
        std::int32_t ring = 0;
        std::int32_t senderLevel = 0;
    };

    [[nodiscard]] SeriesValue* ring(std::int32_t r, std::int64_t hour) {
        return rings_.data()
               + (static_cast<std::size_t>(r) * static_cast<std::size_t>(levels_)
                  + static_cast<std::size_t>(hour % levels_))
                     * subSteps_;
    }
    void deliver(std::size_t level, std::int64_t tick, std::int64_t hour);
    void keep(std::size_t level, std::int64_t hour);
    void snapshot(std::size_t level, std::int64_t hour);

    const RankWork* work_;
    std::int32_t levels_;
    std::int64_t hours_;
    std::int64_t firstHour_;
    std::size_t subSteps_;
    std::vector<std::unique_ptr<RoutingEngine>> engines_;  ///< per level, null when empty
    std::vector<std::size_t> levelOffset_;                 ///< per level, into the rank's values
    std::size_t values_ = 0;
    /// Per cut this rank reads, `levels` hours of series.
    std::vector<SeriesValue> rings_;
    std::vector<std::vector<std::int32_t>> importRing_;  ///< per level, per import slot
    std::vector<std::vector<Destination>> exportTo_;     ///< per level, per export slot
    std::vector<Link> inbound_;
    std::vector<Link> outbound_;
    std::vector<std::vector<Arrival>> arrivals_;  ///< per inbound link, in message order
    std::vector<std::vector<SeriesValue>> inboxes_;
    std::array<std::vector<std::vector<SeriesValue>>, 2> outboxes_;
    /// Frames in the making: hour h in slot h % levels, day d in slot d % daySlots.
    std::vector<float> hourly_;
    std::vector<float> dailyMean_;
    std::vector<float> dailyMax_;
    std::size_t daySlots_ = 1;
    RouteSchedule schedule_;
    /// Snapshots in the making, by hour (several when states come more often than levels).
    std::map<std::int64_t, Snapshot> snapshots_;
};

}  // namespace hydro::runoff
