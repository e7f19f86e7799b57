#include "runoff_sim/parallel_driver.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <iostream>
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
#include "runoff_sim/rank_stepper.h"
#include "runoff_sim/rank_transfer.h"
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

/// Frames handed to rank 0 without holding up the ranks: each rank posts its values of a frame
/// as a non-blocking gather, together with a non-blocking agreement on whether they are sound,
/// and goes on with its next tick. At most kWindow frames are in flight; rank 0 writes a frame
/// once its gather and agreement have completed, in file order. Rank 0 holds the whole frames
/// and where every rank's values go; the other ranks hold only their own values.
class FramePipeline {
public:
    static constexpr std::size_t kWindow = 12;

    /// What rank 0 does with a completed frame: kind 0 is an hourly frame, kind 1 a day's mean
    /// and maximum frames; returns false when the write failed.
    using Writer = std::function<bool(std::int32_t kind, std::int64_t index,
                                      std::span<const float> first, std::span<const float> second)>;

    FramePipeline(const Ranks& ranks, std::vector<std::int32_t> counts,
                  std::vector<std::int64_t> allPositions, const std::vector<float>& frameTemplate,
                  Writer writer)
        : ranks_(&ranks),
          counts_(std::move(counts)),
          allPositions_(std::move(allPositions)),
          writer_(std::move(writer)) {
        if (ranks.root()) {
            int at = 0;
            for (const std::int32_t count : counts_) {
                displacements_.push_back(at);
                doubledCounts_.push_back(2 * count);
                doubledDisplacements_.push_back(2 * at);
                at += count;
            }
            for (auto& frame : frames_) {
                frame = frameTemplate;
            }
        }
    }

    /// Posts this rank's values of the next frame (for kind 1, the means then the maxima) with
    /// its stop code; completes older frames first when the window is full.
    void post(std::int32_t kind, std::int64_t index, std::span<const float> first,
              std::span<const float> second, int code) {
        while (pending_.size() >= kWindow) {
            complete();
        }
        Step& step = pending_.emplace_back();
        step.kind = kind;
        step.index = index;
        step.code = code;
        step.values.assign(first.begin(), first.end());
        step.values.insert(step.values.end(), second.begin(), second.end());
        const bool root = ranks_->root();
        if (root) {
            std::size_t total = 0;
            for (const std::int32_t count : counts_) {
                total += static_cast<std::size_t>(count);
            }
            step.received.resize(kind == 0 ? total : 2 * total);
        }
        const auto* counts = kind == 0 ? counts_.data() : doubledCounts_.data();
        const auto* displacements =
            kind == 0 ? displacements_.data() : doubledDisplacements_.data();
        MPI_Igatherv(step.values.data(), static_cast<int>(step.values.size()), MPI_FLOAT,
                     root ? step.received.data() : nullptr, root ? counts : nullptr,
                     root ? displacements : nullptr, MPI_FLOAT, 0, MPI_COMM_WORLD,
                     step.requests.data());
        MPI_Iallreduce(&step.code, &step.agreed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD,
                       std::next(step.requests.data()));
    }

    /// Completes the frames that have arrived, without waiting.
    void poll() {
        while (!pending_.empty()) {
            int done = 0;
            MPI_Testall(2, pending_.front().requests.data(), &done, MPI_STATUSES_IGNORE);
            if (done == 0) {
                return;
            }
            finishFront();
        }
    }

    /// Completes every frame in flight.
    void drain() {
        while (!pending_.empty()) {
            complete();
        }
    }

    /// The worst stop code agreed so far (kRunning while every frame was sound).
    [[nodiscard]] int agreed() const { return agreed_; }
    /// This rank's own stop code, carried by every frame it posts from now on.
    [[nodiscard]] int own() const { return own_; }
    void fail(int code) { own_ = std::max(own_, code); }

private:
    struct Step {
        std::int32_t kind = 0;
        std::int64_t index = 0;
        int code = kRunning;
        int agreed = kRunning;
        std::vector<float> values;
        std::vector<float> received;
        std::array<MPI_Request, 2> requests{MPI_REQUEST_NULL, MPI_REQUEST_NULL};
    };

    void complete() {
        MPI_Waitall(2, pending_.front().requests.data(), MPI_STATUSES_IGNORE);
        finishFront();
    }

    void finishFront() {
        Step& step = pending_.front();
        agreed_ = std::max(agreed_, step.agreed);
        if (ranks_->root() && agreed_ == kRunning) {
            bool written = true;
            if (step.kind == 0) {
                placeValues(allPositions_, step.received, frames_[0]);
                written = writer_(0, step.index, frames_[0], {});
            } else {
                // Each rank's block holds its means, then its maxima.
                std::size_t at = 0;
                for (std::size_t r = 0; r < counts_.size(); ++r) {
                    const auto n = static_cast<std::size_t>(counts_[r]);
                    const auto positions =
                        std::span(allPositions_)
                            .subspan(static_cast<std::size_t>(displacements_[r]), n);
                    placeValues(positions, std::span(step.received).subspan(at, n), frames_[1]);
                    placeValues(positions, std::span(step.received).subspan(at + n, n), frames_[2]);
                    at += 2 * n;
                }
                written = writer_(1, step.index, frames_[1], frames_[2]);
            }
            if (!written) {
                fail(kWriteFailed);
                agreed_ = kWriteFailed;
            }
        }
        pending_.pop_front();
    }

    const Ranks* ranks_;
    std::vector<std::int32_t> counts_;
    std::vector<std::int32_t> displacements_;
    std::vector<std::int32_t> doubledCounts_;
    std::vector<std::int32_t> doubledDisplacements_;
    std::vector<std::int64_t> allPositions_;
    Writer writer_;
    std::deque<Step> pending_;
    std::array<std::vector<float>, 3> frames_;
    int agreed_ = kRunning;
    int own_ = kRunning;
};

/// The series exchanged between ranks at each tick: a message to every rank this one feeds
/// and from every rank that feeds it. A tick's messages stay in their buffers until the tick
/// after next, so sending never waits for a slower receiver within a tick.
class SeriesExchange {
public:
    explicit SeriesExchange(RankStepper& stepper)
        : stepper_(&stepper), received_(stepper.inbound().size(), MPI_REQUEST_NULL) {
        for (auto& sent : sent_) {
            sent.assign(stepper.outbound().size(), MPI_REQUEST_NULL);
        }
    }

    /// Receives the messages of tick - 1 and takes them in.
    void receive(std::int64_t tick) {
        if (tick > 0) {
            const auto& inbound = stepper_->inbound();
            for (std::size_t i = 0; i < inbound.size(); ++i) {
                MPI_Irecv(stepper_->inbox(i).data(), static_cast<int>(inbound[i].values), MPI_FLOAT,
                          inbound[i].rank, kSeriesTag, MPI_COMM_WORLD, &received_[i]);
            }
            MPI_Waitall(static_cast<int>(received_.size()), received_.data(), MPI_STATUSES_IGNORE);
        }
        stepper_->unpack(tick);
        // The buffers of tick - 2 are about to be filled again.
        auto& sent = sent_[static_cast<std::size_t>(tick % 2)];
        MPI_Waitall(static_cast<int>(sent.size()), sent.data(), MPI_STATUSES_IGNORE);
    }

    /// Sends the messages that tick `tick` filled.
    void send(std::int64_t tick) {
        const auto& outbound = stepper_->outbound();
        auto& sent = sent_[static_cast<std::size_t>(tick % 2)];
        for (std::size_t i = 0; i < outbound.size(); ++i) {
            const std::span<const float> box = stepper_->outbox(i, tick);
            MPI_Isend(box.data(), static_cast<int>(box.size()), MPI_FLOAT, outbound[i].rank,
                      kSeriesTag, MPI_COMM_WORLD, &sent[i]);
        }
    }

    /// Receives the messages of the last tick, `ticks` - 1, and waits until every message has
    /// left.
    void finish(std::int64_t ticks) {
        receive(ticks);
        for (auto& sent : sent_) {
            MPI_Waitall(static_cast<int>(sent.size()), sent.data(), MPI_STATUSES_IGNORE);
        }
    }

private:
    static constexpr int kSeriesTag = 7;
    RankStepper* stepper_;
    std::vector<MPI_Request> received_;
    std::array<std::vector<MPI_Request>, 2> sent_;
};

/// What rank 0 reads and builds before the plan is split (the rainfall reaches every rank).
struct SharedCase {
    std::optional<EventParameters> params;
    std::optional<RainGrid> rain;
    std::optional<RoutingPlan> plan;
    std::size_t classCount = 0;
};

/// Rank 0 reads the case; after each stage the ranks agree on how it went, so that every rank
/// stops where a run in one process stops. Returns false on every rank (the line printed
/// once) when a stage failed.
bool readOnRankZero(const Ranks& ranks, const CasePaths& paths, std::ostream& console,
                    std::ostream& out, SharedCase& shared) {
    auto& params = shared.params;
    auto& rain = shared.rain;
    auto& plan = shared.plan;
    std::size_t& classCount = shared.classCount;
    if (!ranks.step(console, [&]() -> Failure {
            if (!ranks.root()) {
                return {};
            }
            auto read = readEventParameters(paths.parameters(), &out);
            if (!read) {
                return read.error().message;
            }
            params = *read;
            return {};
        })) {
        return false;
    }
    // Read on rank 0 only: the other ranks never look at it.
    const EventParameters none{};
    const EventParameters& p = ranks.root() ? *params : none;

    std::int64_t riverCount = 0;
    std::optional<RiverList> rivers;
    if (!ranks.step(console, [&]() -> Failure {
            if (!ranks.root()) {
                return {};
            }
            const auto count = countRiverLines(paths.riverList());
            if (!count) {
                return count.error().message;
            }
            riverCount = *count;
            return {};
        })) {
        return false;
    }
    sayLine(out, "Number of rivers for simulation : ", riverCount);
    sayLine(out);
    if (!ranks.step(console, [&]() -> Failure {
            if (!ranks.root()) {
                return {};
            }
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
        return false;
    }

    if (!ranks.step(console, [&]() -> Failure {
            if (!ranks.root()) {
                return {};
            }
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
        return false;
    }
    sayLine(out, "*** Number of different kind of cell accumulattion number : ", classCount);
    sayLine(out, "Total simulation time is ", p.days, " days.");
    sayLine(out);

    return ranks.step(console, [&]() -> Failure {
        if (!ranks.root()) {
            return {};
        }
        const auto read = readRainfall(paths.rainfall(), *rain, &out);
        return read ? Failure{} : Failure{read.error().message};
    });
}

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
    return Ranks::agreeStop(std::max(frames.own(), frames.agreed()));
}

/// Bytes moved per MPI call: well below the 2 GiB a call's count can describe.
constexpr std::size_t kImageChunk = std::size_t{1} << 28U;
/// The size rank 0 sends in place of an image it could not make.
constexpr std::uint64_t kNoImage = ~std::uint64_t{0};

template <class Move>
void inChunks(std::vector<std::byte>& bytes, Move move) {
    for (std::size_t at = 0; at < bytes.size(); at += kImageChunk) {
        move(bytes.data() + at, static_cast<int>(std::min(kImageChunk, bytes.size() - at)));
    }
}

/// Rank 0's image to every rank. Every rank first learns its size and makes room; when one
/// cannot, every rank returns false and nothing more is sent.
bool broadcastImage(std::vector<std::byte>& bytes, const Ranks& ranks) {
    auto size = static_cast<std::uint64_t>(bytes.size());
    MPI_Bcast(&size, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
    int room = 1;
    if (!ranks.root()) {
        try {
            bytes.resize(static_cast<std::size_t>(size));
        } catch (const std::bad_alloc&) {
            room = 0;
        }
    }
    int everywhere = 0;
    MPI_Allreduce(&room, &everywhere, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    if (everywhere == 0) {
        return false;
    }
    inChunks(bytes, [](std::byte* at, int n) { MPI_Bcast(at, n, MPI_BYTE, 0, MPI_COMM_WORLD); });
    return true;
}

/// Rank 0 hands every other rank its own image, made by `make(rank)` one at a time, so that
/// rank 0 never holds more than one; `mine` receives this rank's. A rank that cannot make room
/// says so before anything is sent. Returns false on every rank when an image could not be
/// made or received.
bool scatterImages(const Ranks& ranks, const std::function<std::vector<std::byte>(int)>& make,
                   std::vector<std::byte>& mine) {
    constexpr int kSizeTag = 11;
    constexpr int kRoomTag = 12;
    constexpr int kImageTag = 13;
    int ok = 1;
    if (ranks.root()) {
        for (int r = 1; r < ranks.size(); ++r) {
            std::vector<std::byte> image;
            std::uint64_t size = kNoImage;
            if (ok != 0) {
                try {
                    image = make(r);
                    size = image.size();
                } catch (const std::bad_alloc&) {
                    ok = 0;
                }
            }
            MPI_Send(&size, 1, MPI_UINT64_T, r, kSizeTag, MPI_COMM_WORLD);
            if (size == kNoImage) {
                continue;
            }
            int room = 0;
            MPI_Recv(&room, 1, MPI_INT, r, kRoomTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            if (room == 0) {
                ok = 0;
                continue;
            }
            inChunks(image, [r](std::byte* at, int n) {
                MPI_Send(at, n, MPI_BYTE, r, kImageTag, MPI_COMM_WORLD);
            });
        }
    } else {
        std::uint64_t size = 0;
        MPI_Recv(&size, 1, MPI_UINT64_T, 0, kSizeTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        ok = size == kNoImage ? 0 : 1;
        if (ok != 0) {
            try {
                mine.resize(static_cast<std::size_t>(size));
            } catch (const std::bad_alloc&) {
                ok = 0;
            }
            MPI_Send(&ok, 1, MPI_INT, 0, kRoomTag, MPI_COMM_WORLD);
        }
        if (ok != 0) {
            inChunks(mine, [](std::byte* at, int n) {
                MPI_Recv(at, n, MPI_BYTE, 0, kImageTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            });
        }
    }
    int everywhere = 0;
    MPI_Allreduce(&ok, &everywhere, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    return everywhere != 0;
}

}  // namespace

int runRunoffSimParallel(const std::filesystem::path& caseDir, std::ostream& console) {
    const Ranks ranks;
    // Only rank 0 speaks; the others' lines go nowhere.
    std::ostream quiet(nullptr);
    std::ostream& out = ranks.root() ? console : quiet;
    const CasePaths paths{caseDir};

    SharedCase shared;
    if (!readOnRankZero(ranks, paths, console, out, shared)) {
        return kFailure;
    }
    auto& rain = shared.rain;
    auto& plan = shared.plan;
    const std::size_t classCount = shared.classCount;

    // The plan cut into pieces over the ranks. Rank 0 hands every other rank its own work,
    // the routes of the cuts and the rainfall, then lets the whole plan go: each rank holds
    // only its own cells (and rank 0 where every rank's values go).
    std::optional<Decomposition> d;
    std::optional<RankWork> work;
    std::vector<CutRoute> routes;
    std::vector<std::byte> routesImage;
    std::vector<std::byte> rainImage;
    std::vector<std::int32_t> counts;
    std::vector<std::int64_t> positions;
    std::vector<float> frameTemplate;
    std::int64_t routedCells = 0;
    if (!ranks.step(console, [&]() -> Failure {
            if (ranks.root()) {
                d = decompose(readersOf(*plan), ranks.size());
                routes = cutRoutes(*d);
                routesImage = packRoutes(routes);
                rainImage = packRain(*rain);
                positions = framePositionsByRank(*plan, *d, counts);
                frameTemplate = plan->frameTemplate;
                routedCells = static_cast<std::int64_t>(plan->cells.size());
                work = rankWork(*plan, *d, 0);
            }
            return {};
        })) {
        return kFailure;
    }
    std::vector<std::byte> workImage;
    const bool handedOut =
        broadcastImage(routesImage, ranks) && broadcastImage(rainImage, ranks)
        && scatterImages(
            ranks, [&](int r) { return packRankWork(rankWork(*plan, *d, r)); }, workImage);
    if (!ranks.agree(handedOut ? Failure{} : Failure{std::string(kNotEnoughMemory)}, console)) {
        return kFailure;
    }
    plan.reset();
    d.reset();
    std::optional<RankStepper> stepper;
    ProgressPacer quietProgress(0, 0, [](std::int64_t) {});
    if (!ranks.step(console, [&]() -> Failure {
            if (!ranks.root()) {
                routes = unpackRoutes(routesImage);
                rain = unpackRain(rainImage);
                work = unpackRankWork(workImage);
            }
            routesImage = {};
            rainImage = {};
            workImage = {};
            stepper.emplace(*work, routes, ranks.size(), ranks.rank(), *rain, quietProgress);
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
                && !files.open(outputDir,
                               {shared.params->studyCols, shared.params->studyRows,
                                shared.params->swLon, shared.params->swLat},
                               shared.params->days, console)) {
                return std::string();
            }
            return {};
        })) {
        return kFailure;
    }

    // The progress lines follow the frames rank 0 has received: a line once its share of all
    // cell-hours is in, as a run in one process prints them.
    const std::int64_t lines = ranks.root() ? static_cast<std::int64_t>(classCount) : 0;
    const std::int64_t days = ranks.root() ? shared.params->days : 0;
    ProgressPacer progress(lines, routedCells * days * 24, [&out, lines](std::int64_t k) {
        const double percent = (static_cast<double>(k) + 1.0) / static_cast<double>(lines) * 100.0;
        out.precision(3);
        out << "  " << percent << "% ends.\n" << std::flush;
    });
    NonFiniteTally nonFinite;
    FramePipeline frames(ranks, std::move(counts), std::move(positions), frameTemplate,
                         [&](std::int32_t kind, std::int64_t index, std::span<const float> first,
                             std::span<const float> second) {
                             if (kind == 0) {
                                 progress.advance(routedCells);
                                 const auto day = static_cast<std::int32_t>(index / 24) + 1;
                                 const auto hour = static_cast<std::int32_t>(index % 24) + 1;
                                 nonFinite.addHour(day, hour, first);
                                 return files.writeHour(first);
                             }
                             return files.writeDay(first, second);
                         });
    frameTemplate = {};

    progress.start();
    const int stop = runTicks(*stepper, frames);
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
    progress.finish();
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
                nonFinite.report(console, shared.params->studyCols, shared.params->weight);
                return std::string();
            }
            return {};
        })) {
        return kFailure;
    }
    return 0;
}

}  // namespace hydro::runoff
