#include "members/mpi/mpi_executor.h"

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hydro::members {

namespace {

/// The tags of the messages outside the collectives.
constexpr int kPeaksTag = 71;
constexpr int kLineLengthTag = 72;
constexpr int kLineTag = 73;

/// The results of members as bytes: per member a flag, then its series (count, then length
/// and floats of each) and the length of its cellPeaks, or the kind and line of its error.
class Packer {
public:
    void add(const Result<MemberOutput>& result) {
        put<std::uint8_t>(result ? 1 : 0);
        if (!result) {
            put<std::uint8_t>(static_cast<std::uint8_t>(result.error().kind));
            putBytes(result.error().message.data(), result.error().message.size());
            return;
        }
        put<std::uint64_t>(result->series.size());
        for (const std::vector<float>& s : result->series) {
            putBytes(s.data(), s.size() * sizeof(float));
        }
        put<std::uint64_t>(result->cellPeaks.size());
    }
    [[nodiscard]] std::vector<char>& bytes() { return bytes_; }

private:
    template <class T>
    void put(T value) {
        const auto at = bytes_.size();
        bytes_.resize(at + sizeof(T));
        std::memcpy(bytes_.data() + at, &value, sizeof(T));
    }
    void putBytes(const void* data, std::size_t size) {
        put<std::uint64_t>(size);
        const auto at = bytes_.size();
        bytes_.resize(at + size);
        if (size > 0) {
            std::memcpy(bytes_.data() + at, data, size);
        }
    }
    std::vector<char> bytes_;
};

/// Reads back what a Packer wrote, member after member.
class Unpacker {
public:
    Unpacker(const char* data, std::size_t size) : data_(data), size_(size) {}

    /// The next member's result; `peaks` is the length of its cellPeaks.
    Result<MemberOutput> next(std::uint64_t& peaks) {
        peaks = 0;
        if (get<std::uint8_t>() == 0) {
            const auto kind = static_cast<ErrorKind>(get<std::uint8_t>());
            const auto length = static_cast<std::size_t>(get<std::uint64_t>());
            std::string line(data_ + at_, length);
            at_ += length;
            return Error{std::move(line), kind};
        }
        MemberOutput out;
        out.series.resize(static_cast<std::size_t>(get<std::uint64_t>()));
        for (std::vector<float>& s : out.series) {
            const auto bytes = static_cast<std::size_t>(get<std::uint64_t>());
            s.resize(bytes / sizeof(float));
            if (bytes > 0) {
                std::memcpy(s.data(), data_ + at_, bytes);
            }
            at_ += bytes;
        }
        peaks = get<std::uint64_t>();
        return out;
    }

private:
    template <class T>
    T get() {
        T value{};
        if (at_ + sizeof(T) <= size_) {
            std::memcpy(&value, data_ + at_, sizeof(T));
        }
        at_ += sizeof(T);
        return value;
    }
    const char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

/// Every rank's bytes `mine`, rank after rank, on every rank; nothing when they would not fit
/// the counts of one MPI call (the same verdict on every rank).
std::optional<std::vector<char>> allGather(const std::vector<char>& mine, int ranks,
                                           std::vector<int>& counts, std::vector<int>& starts) {
    const auto size = static_cast<std::uint64_t>(mine.size());
    std::vector<std::uint64_t> sizes(static_cast<std::size_t>(ranks));
    MPI_Allgather(&size, 1, MPI_UINT64_T, sizes.data(), 1, MPI_UINT64_T, MPI_COMM_WORLD);
    std::uint64_t total = 0;
    counts.assign(sizes.size(), 0);
    starts.assign(sizes.size(), 0);
    for (std::size_t r = 0; r < sizes.size(); ++r) {
        starts[r] = static_cast<int>(total);
        total += sizes[r];
        if (total > static_cast<std::uint64_t>(INT_MAX)) {
            return std::nullopt;
        }
        counts[r] = static_cast<int>(sizes[r]);
    }
    std::vector<char> all(static_cast<std::size_t>(total));
    MPI_Allgatherv(mine.data(), static_cast<int>(mine.size()), MPI_CHAR, all.data(), counts.data(),
                   starts.data(), MPI_CHAR, MPI_COMM_WORLD);
    return all;
}

}  // namespace

MpiExecutor::MpiExecutor() {
    MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
    MPI_Comm_size(MPI_COMM_WORLD, &size_);
}

void MpiExecutor::runAll(const MemberRunner& runner, std::span<const MemberJob> jobs,
                         int concurrent, const MemberDone& done) {
    const auto ranks = static_cast<std::size_t>(size_);
    const std::size_t share = (jobs.size() + ranks - 1) / ranks;
    int mine = concurrent > 0 ? concurrent : runner.chosenConcurrency(share);
    int most = 1;
    MPI_Allreduce(&mine, &most, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    const std::size_t round = ranks * static_cast<std::size_t>(std::max(most, 1));
    for (std::size_t from = 0; from < jobs.size(); from += round) {
        runRound(runner, jobs.subspan(from, std::min(round, jobs.size() - from)), concurrent, done,
                 from);
    }
}

void MpiExecutor::runRound(const MemberRunner& runner, std::span<const MemberJob> jobs,
                           int concurrent, const MemberDone& done, std::size_t from) const {
    const auto ranks = static_cast<std::size_t>(size_);
    const auto rank = static_cast<std::size_t>(rank_);
    std::vector<MemberJob> share;
    for (std::size_t j = rank; j < jobs.size(); j += ranks) {
        share.push_back(jobs[j]);
    }
    std::vector<Result<MemberOutput>> results;
    Packer packer;
    runner.runAll(share, concurrent, [&](std::size_t, Result<MemberOutput> result) {
        packer.add(result);
        results.push_back(std::move(result));
    });
    std::vector<int> counts;
    std::vector<int> starts;
    const auto all = allGather(packer.bytes(), size_, counts, starts);
    if (!all) {
        for (std::size_t j = 0; j < jobs.size(); ++j) {
            done(from + j, Error{"The members' series are too large to share between the ranks."});
        }
        return;
    }
    std::vector<Unpacker> readers;
    for (std::size_t r = 0; r < ranks; ++r) {
        readers.emplace_back(all->data() + starts[r], static_cast<std::size_t>(counts[r]));
    }
    // The cell peaks go to rank 0 only, member after member in job order.
    if (rank != 0) {
        for (const Result<MemberOutput>& result : results) {
            if (result && !result->cellPeaks.empty()) {
                MPI_Send(result->cellPeaks.data(), static_cast<int>(result->cellPeaks.size()),
                         MPI_FLOAT, 0, kPeaksTag, MPI_COMM_WORLD);
            }
        }
    }
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const std::size_t r = j % ranks;
        std::uint64_t peaks = 0;
        Result<MemberOutput> result = readers[r].next(peaks);
        if (rank == 0 && result && peaks > 0) {
            if (r == 0) {
                result->cellPeaks = std::move(results[j / ranks]->cellPeaks);
            } else {
                result->cellPeaks.resize(static_cast<std::size_t>(peaks));
                MPI_Recv(result->cellPeaks.data(), static_cast<int>(peaks), MPI_FLOAT,
                         static_cast<int>(r), kPeaksTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            }
        }
        done(from + j, std::move(result));
    }
}

Status MpiExecutor::agree(Status mine) {
    int own = mine ? size_ : rank_;
    int lowest = size_;
    MPI_Allreduce(&own, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    if (lowest == size_) {
        return success();
    }
    if (lowest == rank_) {
        if (rank_ != 0) {
            const std::string& line = mine.error().message;
            const auto length = static_cast<int>(line.size());
            MPI_Send(&length, 1, MPI_INT, 0, kLineLengthTag, MPI_COMM_WORLD);
            MPI_Send(line.data(), length, MPI_CHAR, 0, kLineTag, MPI_COMM_WORLD);
        }
        return mine;
    }
    if (rank_ == 0) {
        int length = 0;
        MPI_Recv(&length, 1, MPI_INT, lowest, kLineLengthTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        std::string line(static_cast<std::size_t>(length), '\0');
        MPI_Recv(line.data(), length, MPI_CHAR, lowest, kLineTag, MPI_COMM_WORLD,
                 MPI_STATUS_IGNORE);
        return Error{line};
    }
    // A rank other than 0 prints nothing: any error will do.
    return mine ? Status{Error{}} : mine;
}

int runOnRanks(std::ostream& out, std::ostream& progress, const RankProgram& program) {
    int provided = MPI_THREAD_SINGLE;
    if (MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
        out << "MPI cannot start." << std::endl;
        return 1;
    }
    int status = 1;
    {
        MpiExecutor executor;
        if (provided < MPI_THREAD_FUNNELED) {
            if (executor.writes()) {
                out << "The MPI library does not allow threads beside MPI calls." << std::endl;
            }
        } else {
            // A stream without a buffer drops everything it is given.
            std::ostream quiet(nullptr);
            try {
                status = program(executor, executor.writes() ? out : quiet,
                                 executor.writes() ? progress : quiet);
            } catch (const std::bad_alloc&) {
                std::cout << "Not enough memory for this run." << std::endl;
                MPI_Abort(MPI_COMM_WORLD, 1);
            }
        }
    }
    MPI_Finalize();
    return status;
}

}  // namespace hydro::members
