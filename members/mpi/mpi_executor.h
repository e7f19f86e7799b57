#pragma once

// Members spread over the ranks of MPI_COMM_WORLD (the HYDRO_MPI build). Member j of a batch
// runs on rank j % ranks; each rank runs its share on its own OpenMP threads as one process
// would, and after each round every rank holds every member's series. Only the master thread
// of a rank calls MPI.

#include <functional>
#include <ostream>

#include "members/member_executor.h"

namespace hydro::members {

class MpiExecutor final : public MemberExecutor {
public:
    /// This rank and the number of ranks (MPI must be initialised).
    MpiExecutor();

    [[nodiscard]] int ranks() const override { return size_; }
    [[nodiscard]] bool writes() const override { return rank_ == 0; }

    /// Members go out in rounds of ranks * k (k the most members a rank runs at once, by
    /// `concurrent` or the size of the basin): each rank runs its members of the round, then
    /// every rank receives every series of the round (and rank 0 every cellPeaks), and `done`
    /// sees the round's results in job order.
    void runAll(const MemberRunner& runner, std::span<const MemberJob> jobs, int concurrent,
                const MemberDone& done) override;

    [[nodiscard]] Status agree(Status mine) override;

private:
    void runRound(const MemberRunner& runner, std::span<const MemberJob> jobs, int concurrent,
                  const MemberDone& done, std::size_t from) const;

    int rank_ = 0;
    int size_ = 1;
};

/// What a program does on one rank: its status, having printed to the two streams.
using RankProgram = std::function<int(MemberExecutor&, std::ostream& out, std::ostream& progress)>;

/// Runs `program` once on every rank of the MPI job this process is part of: starts MPI (with
/// threads beside it), hands rank 0 `out` and `progress` and every other rank streams that
/// drop what they are given, and ends MPI. An allocation that fails outside the stages the
/// ranks agree on leaves no way to agree: it prints the memory line and ends every rank.
/// Returns this rank's exit status.
[[nodiscard]] int runOnRanks(std::ostream& out, std::ostream& progress, const RankProgram& program);

}  // namespace hydro::members
