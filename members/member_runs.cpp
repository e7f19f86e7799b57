#include "members/member_runs.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <new>
#include <unordered_map>
#include <utility>

#include "routing/processing_order.h"
#include "routing/routing_setup.h"

namespace hydro::members {

namespace {

constexpr std::array<const char*, kParameterCount> kNames{"manning-slope", "manning-channel",
                                                          "initial-runoff", "rain-factor"};

}  // namespace

const char* parameterName(Parameter parameter) {
    return kNames[static_cast<std::size_t>(parameter)];
}

std::optional<Parameter> parameterNamed(std::string_view name) {
    for (std::size_t k = 0; k < kNames.size(); ++k) {
        if (name == kNames[k]) {
            return static_cast<Parameter>(k);
        }
    }
    return std::nullopt;
}

double MemberValues::get(Parameter parameter) const {
    switch (parameter) {
        case Parameter::kManningSlope:
            return manningSlope;
        case Parameter::kManningChannel:
            return manningChannel;
        case Parameter::kInitialRunoff:
            return initialRunoff;
        case Parameter::kRainFactor:
            return rainFactor;
    }
    return 0.0;
}

void MemberValues::set(Parameter parameter, double value) {
    switch (parameter) {
        case Parameter::kManningSlope:
            manningSlope = value;
            break;
        case Parameter::kManningChannel:
            manningChannel = value;
            break;
        case Parameter::kInitialRunoff:
            initialRunoff = value;
            break;
        case Parameter::kRainFactor:
            rainFactor = value;
            break;
    }
}

RainGrid scaledRain(const RainGrid& rain, double factor) {
    RainGrid scaled = rain;
    for (float& v : scaled.rain) {
        v = static_cast<float>(static_cast<double>(v) * factor);
    }
    return scaled;
}

Result<MemberRunner> MemberRunner::create(CaseData data, RainGrid rain, runoff::Scheme scheme,
                                          const std::vector<CellIndex>& watched, bool cellPeaks) {
    MemberRunner runner;
    const std::vector<CellIndex> order = runoff::orderRoutedCells(data.grid, data.rivers);
    auto plan = runoff::buildRoutingPlan(data.grid, data.rivers, order, rain, data.params, scheme);
    if (!plan) {
        return plan.error();
    }
    for (const CellIndex cell : watched) {
        runner.watchedPositions_.push_back(data.grid.filePosition(cell));
    }
    if (cellPeaks) {
        runner.plan_ = std::move(*plan);
    } else {
        // Only the series of the watched cells are kept: only the cells upstream of them run.
        std::unordered_map<CellIndex, std::int32_t> planIndex;
        for (std::size_t c = 0; c < plan->gridCells.size(); ++c) {
            planIndex.emplace(plan->gridCells[c], static_cast<std::int32_t>(c));
        }
        std::vector<std::int32_t> watchedCells;
        for (const CellIndex cell : watched) {
            if (const auto found = planIndex.find(cell); found != planIndex.end()) {
                watchedCells.push_back(found->second);
            }
        }
        runner.plan_ = runoff::upstreamPlan(*plan, watchedCells);
    }
    runner.data_ = std::move(data);
    runner.rain_ = std::move(rain);
    runner.cellPeaks_ = cellPeaks;
    return runner;
}

MemberValues MemberRunner::caseValues() const {
    const EventParameters& p = data_.params;
    return MemberValues{p.manningSlope, p.manningChannel, p.initialRunoff, 1.0};
}

Result<MemberOutput> MemberRunner::run(const MemberJob& job) const {
    try {
        EventParameters p = data_.params;
        p.manningSlope = job.values.manningSlope;
        p.manningChannel = job.values.manningChannel;
        p.initialRunoff = job.values.initialRunoff;
        runoff::RoutingPlan plan = plan_;
        runoff::setHydraulics(plan, data_.grid, p);
        const RainGrid& given = job.rain != nullptr ? *job.rain : rain_;
        RainGrid scaled;
        const RainGrid* rain = &given;
        if (job.values.rainFactor != 1.0) {
            scaled = scaledRain(given, job.values.rainFactor);
            rain = &scaled;
        }
        MemberOutput out;
        const auto hours = static_cast<std::size_t>(this->hours());
        out.series.assign(watchedPositions_.size(), std::vector<float>(hours, 0.0F));
        if (cellPeaks_) {
            out.cellPeaks = plan.frameTemplate;
        }
        runoff::ProgressPacer progress(0, 0, [](std::int64_t) {});
        runoff::RoutingEngine engine(plan, *rain, progress);
        runoff::FrameSink sink;
        sink.hour = [&](std::int32_t day, std::int32_t hour, std::span<const float> frame) {
            const auto h =
                static_cast<std::size_t>(day - 1) * 24 + static_cast<std::size_t>(hour - 1);
            for (std::size_t g = 0; g < watchedPositions_.size(); ++g) {
                out.series[g][h] = frame[static_cast<std::size_t>(watchedPositions_[g])];
            }
            if (cellPeaks_) {
                for (const runoff::RoutedCell& cell : plan.cells) {
                    const auto at = static_cast<std::size_t>(cell.framePosition);
                    out.cellPeaks[at] = std::max(out.cellPeaks[at], frame[at]);
                }
            }
            return true;
        };
        sink.day = [](std::int32_t, std::span<const float>, std::span<const float>) {
            return true;
        };
        if (engine.run(sink) != runoff::RunStatus::kComplete) {
            return Error{"Not enough memory for this member."};
        }
        return out;
    } catch (const std::bad_alloc&) {
        return Error{"Not enough memory for this member."};
    }
}

int MemberRunner::chosenConcurrency(std::size_t jobs) const {
    if (plan_.cells.size() > kSideBySideCells) {
        return 1;
    }
    return static_cast<int>(
        std::min<std::size_t>(std::max<std::size_t>(jobs, 1),
                              static_cast<std::size_t>(std::max(omp_get_max_threads(), 1))));
}

void MemberRunner::runAll(
    std::span<const MemberJob> jobs, int concurrent,
    const std::function<void(std::size_t, Result<MemberOutput>)>& done) const {
    const int side = concurrent > 0 ? concurrent : chosenConcurrency(jobs.size());
    if (side <= 1) {
        for (std::size_t k = 0; k < jobs.size(); ++k) {
            done(k, run(jobs[k]));
        }
        return;
    }
    // Members side by side: the engine's own parallel regions then run on the member's thread.
    omp_set_max_active_levels(1);
    const auto count = static_cast<std::int64_t>(jobs.size());
#pragma omp parallel for ordered schedule(dynamic, 1) num_threads(side) default(none) \
    shared(jobs, done, count)
    for (std::int64_t k = 0; k < count; ++k) {
        Result<MemberOutput> result = run(jobs[static_cast<std::size_t>(k)]);
#pragma omp ordered
        // Each pass has a result of its own; the check takes OpenMP's loop for a reuse.
        done(static_cast<std::size_t>(k), std::move(result));  // NOLINT(bugprone-use-after-move)
    }
}

}  // namespace hydro::members
