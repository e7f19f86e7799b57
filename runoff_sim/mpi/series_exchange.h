#pragma once

// The series a RankStepper exchanges with other ranks at each tick, moved by MPI: a message
// to every rank it feeds and from every rank that feeds it. A tick's messages stay in their
// buffers until the tick after next, so sending never waits for a slower receiver within a
// tick.

#include <mpi.h>

#include <array>
#include <cstdint>
#include <vector>

#include "runoff_sim/rank_stepper.h"

namespace hydro::runoff {

class SeriesExchange {
public:
    /// `stepper` must outlive the exchange.
    explicit SeriesExchange(RankStepper& stepper);

    /// Receives the messages of tick - 1, has the stepper take them in, and waits until the
    /// buffers that tick `tick` fills again are free.
    void receive(std::int64_t tick);
    /// Sends the messages that tick `tick` filled.
    void send(std::int64_t tick);
    /// Receives the messages of the last tick, `ticks` - 1, and waits until every message has
    /// left.
    void finish(std::int64_t ticks);

private:
    static constexpr int kSeriesTag = 7;
    RankStepper* stepper_;
    std::vector<MPI_Request> received_;
    std::array<std::vector<MPI_Request>, 2> sent_;
};

}  // namespace hydro::runoff
