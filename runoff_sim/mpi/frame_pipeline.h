#pragma once

// Frames handed to rank 0 without holding up the ranks: each rank posts its values of a frame
// as a non-blocking gather, together with a non-blocking agreement on whether the run still
// goes, and goes on with its next tick. At most kWindow frames are in flight; rank 0 writes a
// frame once its gather and agreement have completed, in file order. Rank 0 holds the whole
// frames and where every rank's values go; the other ranks hold only their own values.

#include <mpi.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

#include "runoff_sim/mpi/ranks.h"

namespace hydro::runoff {

/// Why a run stopped, agreed by every rank (the largest code wins).
enum RunStop : int { kRunning = 0, kWriteFailed = 1, kMemory = 2 };

class FramePipeline {
public:
    static constexpr std::size_t kWindow = 12;

    /// What rank 0 does with a completed frame: kind 0 is an hourly frame (`index` its hour
    /// from 0), kind 1 a day's mean and maximum frames (`index` the day from 0); returns false
    /// when the write failed.
    using Writer = std::function<bool(std::int32_t kind, std::int64_t index,
                                      std::span<const float> first, std::span<const float> second)>;

    /// `counts` holds each rank's values per frame, `allPositions` their places in the whole
    /// frame rank after rank, `frameTemplate` the values of cells no rank holds (all three
    /// used on rank 0 only).
    FramePipeline(const Ranks& ranks, std::vector<std::int32_t> counts,
                  std::vector<std::int64_t> allPositions, const std::vector<float>& frameTemplate,
                  Writer writer);

    /// Posts this rank's values of the next frame (for kind 1, the means then the maxima) with
    /// its stop code; completes older frames first when the window is full.
    void post(std::int32_t kind, std::int64_t index, std::span<const float> first,
              std::span<const float> second, int code);
    /// Completes the frames that have arrived, without waiting.
    void poll();
    /// Completes every frame in flight.
    void drain();

    /// The worst stop code agreed so far (kRunning while every frame was sound).
    [[nodiscard]] int agreed() const { return agreed_; }
    /// This rank's own stop code, carried by every frame it posts from now on.
    [[nodiscard]] int own() const { return own_; }
    void fail(int code);

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

    void complete();
    void finishFront();
    [[nodiscard]] bool writeFront(const Step& step);

    const Ranks* ranks_;
    std::vector<std::int32_t> counts_;
    std::vector<std::int32_t> displacements_;
    std::vector<std::int32_t> doubledCounts_;
    std::vector<std::int32_t> doubledDisplacements_;
    std::vector<std::int64_t> allPositions_;
    std::size_t total_ = 0;
    Writer writer_;
    std::deque<Step> pending_;
    std::array<std::vector<float>, 3> frames_;
    int agreed_ = kRunning;
    int own_ = kRunning;
};

}  // namespace hydro::runoff
