#include "runoff_sim/mpi/frame_pipeline.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "runoff_sim/rank_split.h"

namespace hydro::runoff {

FramePipeline::FramePipeline(const Ranks& ranks, std::vector<std::int32_t> counts,
                             std::vector<std::int64_t> allPositions,
                             const std::vector<float>& frameTemplate, Writer writer)
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
            total_ += static_cast<std::size_t>(count);
        }
        for (auto& frame : frames_) {
            frame = frameTemplate;
        }
    }
}

void FramePipeline::post(std::int32_t kind, std::int64_t index, std::span<const float> first,
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
        step.received.resize(kind == 0 ? total_ : 2 * total_);
    }
    const auto* counts = kind == 0 ? counts_.data() : doubledCounts_.data();
    const auto* displacements = kind == 0 ? displacements_.data() : doubledDisplacements_.data();
    MPI_Igatherv(step.values.data(), static_cast<int>(step.values.size()), MPI_FLOAT,
                 root ? step.received.data() : nullptr, root ? counts : nullptr,
                 root ? displacements : nullptr, MPI_FLOAT, 0, MPI_COMM_WORLD,
                 step.requests.data());
    MPI_Iallreduce(&step.code, &step.agreed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD,
                   std::next(step.requests.data()));
}

void FramePipeline::poll() {
    while (!pending_.empty()) {
        int done = 0;
        MPI_Testall(2, pending_.front().requests.data(), &done, MPI_STATUSES_IGNORE);
        if (done == 0) {
            return;
        }
        finishFront();
    }
}

void FramePipeline::drain() {
    while (!pending_.empty()) {
        complete();
    }
}

void FramePipeline::fail(int code) {
    own_ = std::max(own_, code);
}

void FramePipeline::complete() {
    MPI_Waitall(2, pending_.front().requests.data(), MPI_STATUSES_IGNORE);
    finishFront();
}

void FramePipeline::finishFront() {
    const Step& step = pending_.front();
    agreed_ = std::max(agreed_, step.agreed);
    if (ranks_->root() && agreed_ == kRunning && !writeFront(step)) {
        fail(kWriteFailed);
        agreed_ = kWriteFailed;
    }
    pending_.pop_front();
}

bool FramePipeline::writeFront(const Step& step) {
    if (step.kind == 0) {
        placeValues(allPositions_, step.received, frames_[0]);
        return writer_(0, step.index, frames_[0], {});
    }
    // Each rank's block holds its means, then its maxima.
    std::size_t at = 0;
    for (std::size_t r = 0; r < counts_.size(); ++r) {
        const auto n = static_cast<std::size_t>(counts_[r]);
        const auto positions =
            std::span(allPositions_).subspan(static_cast<std::size_t>(displacements_[r]), n);
        placeValues(positions, std::span(step.received).subspan(at, n), frames_[1]);
        placeValues(positions, std::span(step.received).subspan(at + n, n), frames_[2]);
        at += 2 * n;
    }
    return writer_(1, step.index, frames_[1], frames_[2]);
}

}  // namespace hydro::runoff
