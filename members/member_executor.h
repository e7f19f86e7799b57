#pragma once

// Where the members of a program run: in this process, or spread over the ranks of an MPI job
// (members/mpi/, in the HYDRO_MPI build). A program that runs many members does everything
// else the same way on every rank: every rank gets every member's series, so a search that
// decides from them reaches the same next members everywhere, and only the writing rank
// prints and writes files.

#include <cstddef>
#include <functional>
#include <span>

#include "common/result.h"
#include "members/member_runs.h"

namespace hydro::members {

/// Hands a member's result, with its position among the jobs.
using MemberDone = std::function<void(std::size_t, Result<MemberOutput>)>;

class MemberExecutor {
public:
    MemberExecutor() = default;
    MemberExecutor(const MemberExecutor&) = delete;
    MemberExecutor& operator=(const MemberExecutor&) = delete;
    MemberExecutor(MemberExecutor&&) = delete;
    MemberExecutor& operator=(MemberExecutor&&) = delete;
    virtual ~MemberExecutor() = default;

    /// The processes the members are spread over (1 in one process).
    [[nodiscard]] virtual int ranks() const = 0;
    /// True on the one process that prints and writes files.
    [[nodiscard]] virtual bool writes() const = 0;

    /// Runs `jobs` on `runner` (the same case planned on every rank) and hands every result to
    /// `done` in job order, on every rank: the series always, a member's cellPeaks only on the
    /// writing rank (empty elsewhere). A member that fails is an error on every rank. Each
    /// process runs its share `concurrent` members at a time as MemberRunner::runAll does.
    /// Collective: every rank calls it with the same jobs.
    virtual void runAll(const MemberRunner& runner, std::span<const MemberJob> jobs, int concurrent,
                        const MemberDone& done) = 0;

    /// Every rank says how a stage went that may go differently on each (a file read, a file
    /// written by the writing rank). Success everywhere when every rank succeeded; otherwise an
    /// error everywhere, on the writing rank the line of the lowest failing rank. Collective.
    [[nodiscard]] virtual Status agree(Status mine) = 0;
};

/// Every member in this process: runAll is MemberRunner::runAll, agreeing changes nothing.
class LocalExecutor final : public MemberExecutor {
public:
    [[nodiscard]] int ranks() const override { return 1; }
    [[nodiscard]] bool writes() const override { return true; }
    void runAll(const MemberRunner& runner, std::span<const MemberJob> jobs, int concurrent,
                const MemberDone& done) override {
        runner.runAll(jobs, concurrent, done);
    }
    [[nodiscard]] Status agree(Status mine) override { return mine; }
};

}  // namespace hydro::members
