#include "runoff_sim/parallel_driver.h"

#include <mpi.h>

#include <array>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "case/case.h"
#include "common/console.h"
#include "runoff_sim/discharge_output.h"
#include "runoff_sim/driver.h"
#include "runoff_sim/processing_order.h"
#include "runoff_sim/rain_cell.h"
#include "runoff_sim/rank_split.h"
#include "runoff_sim/routing_engine.h"
#include "runoff_sim/routing_setup.h"

namespace hydro::runoff {

namespace {

constexpr int kFailure = 1;

/// A stage's failure: the line to print, or an empty line when rank 0 printed it already.
using Failure = std::optional<std::string>;

/// Why a run stopped, agreed by every rank (the largest code wins).
enum RunStop : int { kRunning = 0, kWriteFailed = 1, kMemory = 2 };

/// The ranks of the run, and their agreement after each stage.
class Ranks {
public:
    Ranks() {
        MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
        MPI_Comm_size(MPI_COMM_WORLD, &size_);
    }
    [[nodiscard]] int rank() const { return rank_; }
    [[nodiscard]] int size() const { return size_; }
    [[nodiscard]] bool root() const { return rank_ == 0; }

    /// Every rank says how its stage went. When any failed, rank 0 prints the line of the
    /// lowest failing rank (received from it when that is not rank 0) and all return false.
    [[nodiscard]] bool agree(const Failure& failure, std::ostream& console) const {
        int mine = failure ? rank_ : size_;
        int lowest = size_;
        MPI_Allreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
        if (lowest == size_) {
            return true;
        }
        if (lowest == 0) {
            if (root() && !failure->empty()) {
                sayLine(console, *failure);
            }
            return false;
        }
        if (rank_ == lowest) {
            const auto length = static_cast<int>(failure->size());
            MPI_Send(&length, 1, MPI_INT, 0, 0, MPI_COMM_WORLD);
            MPI_Send(failure->data(), length, MPI_CHAR, 0, 1, MPI_COMM_WORLD);
        } else if (root()) {
            int length = 0;
            MPI_Recv(&length, 1, MPI_INT, lowest, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            std::string line(static_cast<std::size_t>(length), '\0');
            MPI_Recv(line.data(), length, MPI_CHAR, lowest, 1, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            if (!line.empty()) {
                sayLine(console, line);
            }
        }
        return false;
    }

    /// Runs one stage on this rank (a failed allocation is its failure), then agrees.
    template <class Stage>
    [[nodiscard]] bool step(std::ostream& console, Stage stage) const {
        Failure failure;
        try {
            failure = stage();
        } catch (const std::bad_alloc&) {
            failure = std::string(kNotEnoughMemory);
        }
        return agree(failure, console);
    }

    /// The largest stop code of all ranks.
    [[nodiscard]] static int agreeStop(int mine) {
        int worst = kRunning;
        MPI_Allreduce(&mine, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
        return worst;
    }

private:
    int rank_ = 0;
    int size_ = 1;
};

/// Whole frames put together on rank 0 from the ranks' values, hour by hour and day by day.
/// Rank 0 holds three whole frames and the frame positions of every rank's cells; the other
/// ranks hold only their own values.
class FrameGather {
public:
    FrameGather(const Ranks& ranks, std::vector<std::int32_t> counts,
                std::vector<std::int64_t> allPositions, const std::vector<float>& frameTemplate)
        : ranks_(&ranks), counts_(std::move(counts)), allPositions_(std::move(allPositions)) {
        if (ranks.root()) {
            displacements_.resize(counts_.size());
            int at = 0;
            for (std::size_t r = 0; r < counts_.size(); ++r) {
                displacements_[r] = at;
                at += counts_[r];
            }
            received_.resize(static_cast<std::size_t>(at));
            for (auto& frame : frames_) {
                frame = frameTemplate;
            }
        }
    }

    /// Gathers one frame (kind 0 hourly, 1 daily mean, 2 daily maximum) from this rank's
    /// values; on rank 0 returns the whole frame, elsewhere an empty span.
    std::span<const float> gather(std::size_t kind, std::span<const float> values) {
        MPI_Gatherv(values.data(), static_cast<int>(values.size()), MPI_FLOAT, received_.data(),
                    counts_.data(), displacements_.data(), MPI_FLOAT, 0, MPI_COMM_WORLD);
        if (!ranks_->root()) {
            return {};
        }
        placeValues(allPositions_, received_, frames_[kind]);
        return frames_[kind];
    }

    /// Every rank learns whether rank 0's write went well.
    [[nodiscard]] static bool shareWrite(bool written) {
        int ok = written ? 1 : 0;
        MPI_Bcast(&ok, 1, MPI_INT, 0, MPI_COMM_WORLD);
        return ok != 0;
    }

private:
    const Ranks* ranks_;
    std::vector<std::int32_t> counts_;
    std::vector<std::int32_t> displacements_;
    std::vector<std::int64_t> allPositions_;
    std::vector<float> received_;
    std::array<std::vector<float>, 3> frames_;
};

}  // namespace

int runRunoffSimParallel(const std::filesystem::path& caseDir, std::ostream& console) {
    const Ranks ranks;
    // Only rank 0 speaks; the others' lines go nowhere.
    std::ostream quiet(nullptr);
    std::ostream& out = ranks.root() ? console : quiet;
    const CasePaths paths{caseDir};

    // Every rank reads the case itself from the shared folder: the stages are the same on
    // every rank, so each reaches the same verdict, and the ranks agree after each one.
    std::optional<EventParameters> params;
    if (!ranks.step(console, [&]() -> Failure {
            auto read = readEventParameters(paths.parameters(), &out);
            if (!read) {
                return read.error().message;
            }
            params = *read;
            return {};
        })) {
        return kFailure;
    }
    const EventParameters& p = *params;

    std::int64_t riverCount = 0;
    std::optional<RiverList> rivers;
    if (!ranks.step(console, [&]() -> Failure {
            const auto count = countRiverLines(paths.riverList());
            if (!count) {
                return count.error().message;
            }
            riverCount = *count;
            return {};
        })) {
        return kFailure;
    }
    sayLine(out, "Number of rivers for simulation : ", riverCount);
    sayLine(out);
    std::optional<RainGrid> rain;
    if (!ranks.step(console, [&]() -> Failure {
            auto read = readRiverList(paths.riverList(), riverCount);
            if (!read) {
                return read.error().message;
            }
            rivers = std::move(*read);
            if (const auto tooLarge = gridSizeProblem(p)) {
                return tooLarge->message;
            }
            if (const auto offTheGlobe = latitudeProblem(p)) {
                return offTheGlobe->message;
            }
            rain = placeRainPoints(p);
            return {};
        })) {
        return kFailure;
    }

    std::optional<RoutingPlan> plan;
    std::size_t classCount = 0;
    if (!ranks.step(console, [&]() -> Failure {
            auto network = buildDrainageNetwork(paths.topoData(), p);
            if (!network) {
                return network.error().message;
            }
            if (const auto bad = nonFiniteElevation(*network, *rivers)) {
                return bad->message;
            }
            const std::vector<CellIndex> order = orderRoutedCells(*network, *rivers);
            auto built = buildRoutingPlan(*network, *rivers, order, *rain, p);
            if (!built) {
                return built.error().message;
            }
            plan = std::move(*built);
            classCount = collectAccClasses(*network).size();
            return {};
        })) {
        return kFailure;
    }
    sayLine(out, "*** Number of different kind of cell accumulattion number : ", classCount);
    sayLine(out, "Total simulation time is ", p.days, " days.");
    sayLine(out);

    if (!ranks.step(console, [&]() -> Failure {
            const auto read = readRainfall(paths.rainfall(), *rain, &out);
            return read ? Failure{} : Failure{read.error().message};
        })) {
        return kFailure;
    }

    // Each rank keeps its own part of the plan; rank 0 also where every rank's values go.
    std::optional<RankPart> part;
    std::optional<FrameGather> gather;
    std::optional<ProgressPacer> progress;
    std::optional<RoutingEngine> engine;
    if (!ranks.step(console, [&]() -> Failure {
            const std::vector<std::int32_t> owner = assignTrees(*plan, ranks.size());
            part = rankPart(*plan, owner, ranks.rank());
            std::vector<std::int32_t> counts;
            std::vector<std::int64_t> positions;
            if (ranks.root()) {
                counts.assign(static_cast<std::size_t>(ranks.size()), 0);
                for (const std::int32_t r : owner) {
                    ++counts[static_cast<std::size_t>(r)];
                }
                positions.reserve(plan->cells.size());
                for (std::int32_t r = 0; r < ranks.size(); ++r) {
                    for (std::size_t c = 0; c < owner.size(); ++c) {
                        if (owner[c] == r) {
                            positions.push_back(plan->cells[c].framePosition);
                        }
                    }
                }
            }
            gather.emplace(ranks, std::move(counts), std::move(positions), plan->frameTemplate);
            plan.reset();
            // The progress lines on rank 0 follow rank 0's own share of the work.
            const std::int64_t lines = ranks.root() ? static_cast<std::int64_t>(classCount) : 0;
            const std::int64_t cellHours =
                static_cast<std::int64_t>(part->plan.cells.size()) * p.days * 24;
            progress.emplace(lines, cellHours, [&out, lines](std::int64_t k) {
                const double percent =
                    (static_cast<double>(k) + 1.0) / static_cast<double>(lines) * 100.0;
                out.precision(3);
                out << "  " << percent << "% ends.\n" << std::flush;
            });
            engine.emplace(part->plan, *rain, *progress);
            return {};
        })) {
        return kFailure;
    }

    // Every output file must be creatable before hours of computing start (rank 0 prints).
    const auto outputDir = paths.output();
    DischargeFiles files;
    if (!ranks.step(console, [&]() -> Failure {
            if (ranks.root() && !checkOutputFiles(outputDir, console)) {
                return std::string();
            }
            return {};
        })) {
        return kFailure;
    }
    sayLine(out, "Runoff simulation starts.");
    if (!ranks.step(console, [&]() -> Failure {
            if (ranks.root()
                && !files.open(outputDir, {p.studyCols, p.studyRows, p.swLon, p.swLat}, p.days,
                               console)) {
                return std::string();
            }
            return {};
        })) {
        return kFailure;
    }

    // The time loop. Before each frame the ranks agree that all of them finished the hour
    // (a rank whose allocation failed says so instead of sending), then rank 0 gathers the
    // values, writes the frame and tells the others whether that worked.
    progress->start();
    NonFiniteTally nonFinite;
    int stop = kRunning;
    const auto agreedSoFar = [&]() {
        stop = Ranks::agreeStop(kRunning);
        return stop == kRunning;
    };
    const auto written = [&](bool ok) {
        if (!FrameGather::shareWrite(ok)) {
            stop = kWriteFailed;
            return false;
        }
        return true;
    };
    const FrameSink sink{
        [&](std::int32_t day, std::int32_t hour, std::span<const float> values) {
            if (!agreedSoFar()) {
                return false;
            }
            const std::span<const float> frame = gather->gather(0, values);
            bool ok = true;
            if (ranks.root()) {
                nonFinite.addHour(day, hour, frame);
                ok = files.writeHour(frame);
            }
            return written(ok);
        },
        [&](std::int32_t, std::span<const float> meanValues, std::span<const float> maxValues) {
            if (!agreedSoFar()) {
                return false;
            }
            const std::span<const float> mean = gather->gather(1, meanValues);
            const std::span<const float> max = gather->gather(2, maxValues);
            return written(!ranks.root() || files.writeDay(mean, max));
        }};
    RunStatus status = RunStatus::kComplete;
    try {
        status = engine->run(sink);
    } catch (const std::bad_alloc&) {
        status = RunStatus::kOutOfMemory;
    }
    if (status == RunStatus::kOutOfMemory) {
        // This rank stopped before its frame: the others wait for its word on that frame.
        stop = Ranks::agreeStop(kMemory);
    }
    if (stop == kMemory) {
        sayLine(out, kNotEnoughMemory);
        return kFailure;
    }
    if (stop == kWriteFailed) {
        if (ranks.root()) {
            files.reportFailure(console);
        }
        return kFailure;
    }
    progress->finish();
    sayLine(out);
    sayLine(out, "Runoff simulation ends.");

    // Rank 0 closes and checks the files and looks for values that are not numbers.
    if (!ranks.step(console, [&]() -> Failure {
            if (!ranks.root()) {
                return {};
            }
            if (!files.finish(console)) {
                return std::string();
            }
            if (nonFinite.count() > 0) {
                nonFinite.report(console, p.studyCols, p.weight);
                return std::string();
            }
            return {};
        })) {
        return kFailure;
    }
    return 0;
}

}  // namespace hydro::runoff
