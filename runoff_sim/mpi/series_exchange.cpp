#include "runoff_sim/mpi/series_exchange.h"

#include <cstddef>
#include <span>

namespace hydro::runoff {

SeriesExchange::SeriesExchange(RankStepper& stepper)
    : stepper_(&stepper), received_(stepper.inbound().size(), MPI_REQUEST_NULL) {
    for (auto& sent : sent_) {
        sent.assign(stepper.outbound().size(), MPI_REQUEST_NULL);
    }
}

void SeriesExchange::receive(std::int64_t tick) {
    if (tick > 0) {
        const auto& inbound = stepper_->inbound();
        for (std::size_t i = 0; i < inbound.size(); ++i) {
            MPI_Irecv(stepper_->inbox(i).data(), static_cast<int>(inbound[i].values), MPI_DOUBLE,
                      inbound[i].rank, kSeriesTag, MPI_COMM_WORLD, &received_[i]);
        }
        MPI_Waitall(static_cast<int>(received_.size()), received_.data(), MPI_STATUSES_IGNORE);
    }
    stepper_->unpack(tick);
    // The buffers of tick - 2 are about to be filled again.
    auto& sent = sent_[static_cast<std::size_t>(tick % 2)];
    MPI_Waitall(static_cast<int>(sent.size()), sent.data(), MPI_STATUSES_IGNORE);
}

void SeriesExchange::send(std::int64_t tick) {
    const auto& outbound = stepper_->outbound();
    auto& sent = sent_[static_cast<std::size_t>(tick % 2)];
    for (std::size_t i = 0; i < outbound.size(); ++i) {
        const std::span<const SeriesValue> box = stepper_->outbox(i, tick);
        MPI_Isend(box.data(), static_cast<int>(box.size()), MPI_DOUBLE, outbound[i].rank,
                  kSeriesTag, MPI_COMM_WORLD, &sent[i]);
    }
}

void SeriesExchange::finish(std::int64_t ticks) {
    receive(ticks);
    for (auto& sent : sent_) {
        MPI_Waitall(static_cast<int>(sent.size()), sent.data(), MPI_STATUSES_IGNORE);
    }
}

}  // namespace hydro::runoff
