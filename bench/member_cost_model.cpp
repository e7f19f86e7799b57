// The cost of a calibration spread over MPI ranks, worked out from one measured number: the
// time of one member of the case on one rank (its OpenMP threads all on that member, as for a
// basin above kSideBySideCells). From it, for DDS at several batch sizes and for a Latin
// hypercube, the rounds the members go out in (a round runs one member on each rank that has
// one), the share of rank time spent idle, the exchange after every round (every rank gets
// every member's gauge series), and the wall time against one process running the same
// members one after another.
//
//   member_cost_model SECONDS_PER_MEMBER [evaluations ranks gauges hours setup_seconds]
//
// Defaults: 1000 evaluations, 64 ranks, 5 gauges, 48 hours (real-basin-large's event), no
// set-up time. The set-up (every rank reads and plans the case once) is a measured input too;
// it is paid once, by every rank at the same time. The exchange is costed as a ring allgather
// on an interconnect of 5 microseconds a message and 5 GB/s, plus one agreement (an allreduce)
// per batch; it is small against any member of a real basin, and the model says how small.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr double kLatencySeconds = 5e-6;
constexpr double kBytesPerSecond = 5e9;
/// calibrate's Latin hypercube hands the members out 8 a rank at a time.
constexpr std::int64_t kLhsChunkPerRank = 8;

struct Inputs {
    double member = 0.0;  ///< seconds of one member on one rank
    std::int64_t evaluations = 1000;
    std::int64_t ranks = 64;
    std::int64_t gauges = 5;
    std::int64_t hours = 48;
    double setup = 0.0;
};

struct Cost {
    std::int64_t batches = 0;
    std::int64_t rounds = 0;
    double idle = 0.0;      ///< share of the ranks' member time spent waiting
    double exchange = 0.0;  ///< seconds of allgathers and agreements, all rounds
    double wall = 0.0;      ///< seconds, with the set-up and the best member run again
};

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return (a + b - 1) / b;
}

/// A round's allgather: each rank's member series, ranks - 1 ring steps.
double roundExchange(const Inputs& in) {
    const double perMember = static_cast<double>(in.gauges * in.hours) * 4.0 + 64.0;
    const auto steps = static_cast<double>(in.ranks - 1);
    return 2.0 * kLatencySeconds * std::log2(static_cast<double>(in.ranks))
           + steps * (kLatencySeconds + perMember / kBytesPerSecond);
}

/// `evaluations` members in batches of `batch`, each batch in rounds of one member a rank.
Cost batched(const Inputs& in, std::int64_t batch) {
    Cost c;
    c.batches = ceilDiv(in.evaluations, batch);
    const std::int64_t full = in.evaluations / batch;
    const std::int64_t rest = in.evaluations % batch;
    c.rounds = full * ceilDiv(batch, in.ranks) + (rest > 0 ? ceilDiv(rest, in.ranks) : 0);
    c.idle = 1.0 - static_cast<double>(in.evaluations) / static_cast<double>(c.rounds * in.ranks);
    const double agreement = 2.0 * kLatencySeconds * std::log2(static_cast<double>(in.ranks));
    c.exchange = static_cast<double>(c.rounds) * roundExchange(in)
                 + static_cast<double>(c.batches) * agreement;
    // The best member runs once more on rank 0 for its hydrographs.
    c.wall = in.setup + static_cast<double>(c.rounds + 1) * in.member + c.exchange;
    return c;
}

void row(const std::string& name, const Inputs& in, const Cost& c) {
    const double alone = in.setup + static_cast<double>(in.evaluations + 1) * in.member;
    std::cout << "  " << std::left << std::setw(18) << name << std::right << std::setw(8)
              << c.batches << std::setw(8) << c.rounds << std::setw(8) << std::fixed
              << std::setprecision(1) << 100.0 * c.idle << std::setw(12) << std::setprecision(3)
              << c.exchange << std::setw(12) << std::setprecision(2) << c.wall / 3600.0
              << std::setw(10) << std::setprecision(1) << alone / c.wall << "x\n";
}

bool readInputs(int argc, char** argv, Inputs& in) {
    if (argc < 2) {
        return false;
    }
    char* end = nullptr;
    in.member = std::strtod(argv[1], &end);
    if (*end != '\0' || !(in.member > 0.0)) {
        return false;
    }
    const std::array<std::int64_t*, 4> counts{&in.evaluations, &in.ranks, &in.gauges, &in.hours};
    for (std::size_t k = 0; k < counts.size() && k + 2 < static_cast<std::size_t>(argc); ++k) {
        *counts[k] = std::strtoll(argv[k + 2], &end, 10);
        if (*end != '\0' || *counts[k] < 1) {
            return false;
        }
    }
    if (argc > 6) {
        in.setup = std::strtod(argv[6], &end);
        if (*end != '\0' || !(in.setup >= 0.0)) {
            return false;
        }
    }
    return argc <= 7;
}

}  // namespace

int main(int argc, char** argv) {
    Inputs in;
    if (!readInputs(argc, argv, in)) {
        std::cout << "Usage: member_cost_model SECONDS_PER_MEMBER [evaluations ranks gauges "
                     "hours setup_seconds]\n";
        return 1;
    }
    std::cout << in.evaluations << " evaluations on " << in.ranks << " ranks, " << in.member
              << " s a member, " << in.gauges << " gauges over " << in.hours << " hours, set-up "
              << in.setup << " s\n";
    std::cout << "  search            batches  rounds  idle %  exchange s  wall hours  "
                 "speed-up\n";
    std::vector<std::int64_t> batches{1, 2, 8, 16, 32, 64, 128};
    for (const std::int64_t b : batches) {
        row("DDS --batch " + std::to_string(b), in, batched(in, b));
    }
    // The Latin hypercube's chunks are rounds of one member a rank, 8 rounds a chunk.
    Cost lhs = batched(in, kLhsChunkPerRank * in.ranks);
    row("Latin hypercube", in, lhs);
    return 0;
}
