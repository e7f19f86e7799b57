#include "runoff_sim/rank_stepper.h"

#include <algorithm>

namespace hydro::runoff {

namespace {

void copySeries(std::span<const SeriesValue> from, SeriesValue* to) {
    std::copy(from.begin(), from.end(), to);
}

}  // namespace

RankStepper::RankStepper(const RankWork& work, std::span<const CutRoute> routes, std::int32_t ranks,
                         std::int32_t rank, const RainGrid& rain, ProgressPacer& progress,
                         std::int64_t firstHour)
    : work_(&work),
      levels_(static_cast<std::int32_t>(work.plans.size())),
      hours_(static_cast<std::int64_t>(work.plans.front().days) * 24),
      firstHour_(firstHour),
      subSteps_(static_cast<std::size_t>(work.plans.front().subStepsPerHour)) {
    const auto levels = static_cast<std::size_t>(levels_);
    for (std::size_t k = 0; k < levels; ++k) {
        const RoutingPlan& plan = work.plans[k];
        levelOffset_.push_back(values_);
        values_ += plan.cells.size();
        engines_.push_back(
            plan.cells.empty() ? nullptr : std::make_unique<RoutingEngine>(plan, rain, progress));
        if (engines_.back()) {
            engines_.back()->start(firstHour_);
        }
    }

    // A ring for every cut this rank reads, level by level and slot by slot.
    std::vector<std::int32_t> ringOf(routes.size(), -1);
    std::int32_t rings = 0;
    importRing_.resize(levels);
    for (std::size_t k = 0; k < levels; ++k) {
        for (const std::int32_t cut : work.importCut[k]) {
            ringOf[static_cast<std::size_t>(cut)] = rings;
            importRing_[k].push_back(rings++);
        }
    }
    rings_.assign(static_cast<std::size_t>(rings) * levels * subSteps_, 0.0);

    // Messages: one per peer rank and tick, its cuts in cut order; peers in rank order.
    std::vector<std::int32_t> inLink(static_cast<std::size_t>(ranks), -1);
    std::vector<std::int32_t> outLink(static_cast<std::size_t>(ranks), -1);
    const auto ends = [&](std::size_t cut) {
        const CutRoute& route = routes[cut];
        return std::array<std::int32_t, 3>{route.fromRank, route.toRank, route.fromLevel};
    };
    for (std::size_t cut = 0; cut < routes.size(); ++cut) {
        const auto [from, to, level] = ends(cut);
        if (from != to && to == rank) {
            inLink[static_cast<std::size_t>(from)] = 0;
        } else if (from != to && from == rank) {
            outLink[static_cast<std::size_t>(to)] = 0;
        }
    }
    for (std::int32_t r = 0; r < ranks; ++r) {
        if (inLink[static_cast<std::size_t>(r)] == 0) {
            inLink[static_cast<std::size_t>(r)] = static_cast<std::int32_t>(inbound_.size());
            inbound_.push_back({r, 0});
        }
        if (outLink[static_cast<std::size_t>(r)] == 0) {
            outLink[static_cast<std::size_t>(r)] = static_cast<std::int32_t>(outbound_.size());
            outbound_.push_back({r, 0});
        }
    }
    arrivals_.resize(inbound_.size());
    std::vector<std::pair<std::int32_t, std::size_t>> exportPlace(routes.size(), {-1, 0});
    for (std::size_t cut = 0; cut < routes.size(); ++cut) {
        const auto [from, to, level] = ends(cut);
        if (from != to && to == rank) {
            const auto i = static_cast<std::size_t>(inLink[static_cast<std::size_t>(from)]);
            arrivals_[i].push_back({ringOf[cut], level});
            inbound_[i].values += subSteps_;
        } else if (from != to && from == rank) {
            const auto i = static_cast<std::size_t>(outLink[static_cast<std::size_t>(to)]);
            exportPlace[cut] = {static_cast<std::int32_t>(i), outbound_[i].values};
            outbound_[i].values += subSteps_;
        }
    }
    exportTo_.resize(levels);
    for (std::size_t k = 0; k < levels; ++k) {
        for (const std::int32_t cut : work.exportCut[k]) {
            const auto c = static_cast<std::size_t>(cut);
            exportTo_[k].push_back(routes[c].toRank == rank ? Destination{ringOf[c], -1, 0}
                                                            : Destination{-1, exportPlace[c].first,
                                                                          exportPlace[c].second});
        }
    }
    for (const Link& link : inbound_) {
        inboxes_.emplace_back(link.values, 0.0F);
    }
    for (auto& boxes : outboxes_) {
        for (const Link& link : outbound_) {
            boxes.emplace_back(link.values, 0.0F);
        }
    }
    daySlots_ = (levels - 1) / 24 + 1;
    hourly_.assign(values_ * levels, 0.0F);
    dailyMean_.assign(values_ * daySlots_, 0.0F);
    dailyMax_.assign(values_ * daySlots_, 0.0F);
}

void RankStepper::unpack(std::int64_t tick) {
    if (tick == 0) {
        return;
    }
    const std::int64_t sent = tick - 1;
    for (std::size_t i = 0; i < inbound_.size(); ++i) {
        for (std::size_t j = 0; j < arrivals_[i].size(); ++j) {
            const std::int64_t hour = firstHour_ + sent - arrivals_[i][j].senderLevel;
            if (hour >= firstHour_ && hour < hours_) {
                copySeries(std::span(inboxes_[i]).subspan(j * subSteps_, subSteps_),
                           ring(arrivals_[i][j].ring, hour));
            }
        }
    }
}

RunStatus RankStepper::runTick(std::int64_t tick) {
    for (std::size_t k = 0; k < engines_.size(); ++k) {
        const std::int64_t hour = firstHour_ + tick - static_cast<std::int64_t>(k);
        RoutingEngine* engine = engines_[k].get();
        if (engine == nullptr || hour < firstHour_ || hour >= hours_) {
            continue;
        }
        for (std::size_t slot = 0; slot < importRing_[k].size(); ++slot) {
            const SeriesValue* from = ring(importRing_[k][slot], hour);
            const std::span<SeriesValue> to = engine->importSeries(static_cast<std::int32_t>(slot));
            std::copy(from, from + subSteps_, to.begin());
        }
        if (engine->advance(static_cast<std::int32_t>(hour / 24) + 1,
                            static_cast<std::int32_t>(hour % 24) + 1)
            != RunStatus::kComplete) {
            return RunStatus::kOutOfMemory;
        }
        deliver(k, tick, hour);
        keep(k, hour);
        if (wantsState(hour)) {
            snapshot(k, hour);
        }
    }
    return RunStatus::kComplete;
}

void RankStepper::deliver(std::size_t level, std::int64_t tick, std::int64_t hour) {
    const RoutingEngine& engine = *engines_[level];
    auto& boxes = outboxes_[static_cast<std::size_t>(tick % 2)];
    for (std::size_t slot = 0; slot < exportTo_[level].size(); ++slot) {
        const Destination& to = exportTo_[level][slot];
        const std::span<const SeriesValue> series =
            engine.exportSeries(static_cast<std::int32_t>(slot));
        if (to.ring >= 0) {
            copySeries(series, ring(to.ring, hour));
        } else {
            copySeries(series, boxes[static_cast<std::size_t>(to.link)].data() + to.offset);
        }
    }
}

void RankStepper::keep(std::size_t level, std::int64_t hour) {
    const RoutingEngine& engine = *engines_[level];
    const std::size_t at = levelOffset_[level];
    const std::span<const float> hourly = engine.hourly();
    std::copy(
        hourly.begin(), hourly.end(),
        hourly_.begin()
            + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(hour % levels_) * values_ + at));
    if (hour % 24 == 23) {
        const auto day = static_cast<std::size_t>(hour / 24) % daySlots_;
        const auto to = static_cast<std::ptrdiff_t>(day * values_ + at);
        const std::span<const float> mean = engine.dailyMean();
        const std::span<const float> max = engine.dailyMax();
        std::copy(mean.begin(), mean.end(), dailyMean_.begin() + to);
        std::copy(max.begin(), max.end(), dailyMax_.begin() + to);
    }
}

void RankStepper::snapshot(std::size_t level, std::int64_t hour) {
    const RoutingEngine& engine = *engines_[level];
    const std::size_t per = stateValuesPerCell();
    const auto [at, first] = snapshots_.try_emplace(hour);
    Snapshot& s = at->second;
    if (first) {
        s.values.assign(values_ * per, 0.0);
        s.totals.resize(static_cast<std::size_t>(work_->plans.front().riverCount));
    }
    engine.stateValues(hour + 1,
                       std::span(s.values).subspan(levelOffset_[level] * per,
                                                   work_->plans[level].cells.size() * per));
    const std::vector<RiverTotals> totals = engine.riverTotals();
    for (std::size_t r = 0; r < totals.size(); ++r) {
        s.totals[r].add(totals[r]);
    }
}

RankStepper::Snapshot RankStepper::takeSnapshot(std::int64_t hour) {
    const auto it = snapshots_.find(hour);
    if (it == snapshots_.end()) {
        Snapshot none;
        none.totals.resize(static_cast<std::size_t>(work_->plans.front().riverCount));
        return none;
    }
    Snapshot s = std::move(it->second);
    snapshots_.erase(it);
    return s;
}

void RankStepper::seedDay(std::span<const float> dayFrames) {
    const auto frames = static_cast<std::size_t>(firstHour_ % 24);
    if (frames == 0 || dayFrames.empty()) {
        return;
    }
    const std::size_t frameSize = dayFrames.size() / frames;
    std::vector<float> local;
    for (std::size_t k = 0; k < engines_.size(); ++k) {
        if (!engines_[k]) {
            continue;
        }
        const std::size_t cells = work_->plans[k].cells.size();
        local.resize(frames * cells);
        for (std::size_t f = 0; f < frames; ++f) {
            for (std::size_t i = 0; i < cells; ++i) {
                const auto pos =
                    static_cast<std::size_t>(work_->framePositions[levelOffset_[k] + i]);
                local[f * cells + i] = dayFrames[f * frameSize + pos];
            }
        }
        engines_[k]->seedDay(local);
    }
}

std::optional<std::int64_t> RankStepper::completedHour(std::int64_t tick) const {
    const std::int64_t hour = firstHour_ + tick - (levels_ - 1);
    if (hour < firstHour_ || hour >= hours_) {
        return std::nullopt;
    }
    return hour;
}

std::span<const float> RankStepper::hourValues(std::int64_t hour) const {
    return std::span(hourly_).subspan(static_cast<std::size_t>(hour % levels_) * values_, values_);
}

std::span<const float> RankStepper::dayMeans(std::int64_t day) const {
    return std::span(dailyMean_)
        .subspan(static_cast<std::size_t>(day) % daySlots_ * values_, values_);
}

std::span<const float> RankStepper::dayMaxima(std::int64_t day) const {
    return std::span(dailyMax_).subspan(static_cast<std::size_t>(day) % daySlots_ * values_,
                                        values_);
}

std::span<const SeriesValue> RankStepper::importedSeries(std::int32_t level, std::int32_t slot) {
    return engines_[static_cast<std::size_t>(level)]->importSeries(slot);
}

std::vector<RiverTotals> RankStepper::riverTotals() const {
    std::vector<RiverTotals> totals(static_cast<std::size_t>(work_->plans.front().riverCount));
    for (std::size_t k = 0; k < engines_.size(); ++k) {
        if (!engines_[k]) {
            continue;
        }
        const std::vector<RiverTotals> level = finalTotals(work_->plans[k], *engines_[k]);
        for (std::size_t r = 0; r < totals.size(); ++r) {
            totals[r].add(level[r]);
        }
    }
    return totals;
}

}  // namespace hydro::runoff
