#pragma once

// The ranks of MPI_COMM_WORLD as one run sees them: their verdict on each stage, and the byte
// images that rank 0 hands to the others. Every function here is collective: every rank calls
// it, in the same order.

#include <cstddef>
#include <functional>
#include <vector>

#include "common/result.h"

namespace hydro::runoff {

class Ranks {
public:
    /// This rank and the number of ranks (MPI must be initialised).
    Ranks();
    [[nodiscard]] int rank() const { return rank_; }
    [[nodiscard]] int size() const { return size_; }
    [[nodiscard]] bool root() const { return rank_ == 0; }

    /// Every rank says how its stage went. Success on every rank when every rank succeeded;
    /// otherwise every rank gets an error, rank 0 the one of the lowest failing rank (whose
    /// line is sent to rank 0 when that is another rank).
    [[nodiscard]] Status agree(Status mine) const;

private:
    int rank_ = 0;
    int size_ = 1;
};

/// Rank 0's image `bytes` to every rank. Every rank first learns its size and makes room; when
/// one cannot, every rank returns false and nothing more is sent.
[[nodiscard]] bool broadcastImage(std::vector<std::byte>& bytes, const Ranks& ranks);

/// Rank 0 hands every other rank its own image, made by `make(rank)` one at a time, so that
/// rank 0 never holds more than one; `mine` receives this rank's. A rank that cannot make room
/// says so before anything is sent. Returns false on every rank when an image could not be
/// made or received.
[[nodiscard]] bool scatterImages(const Ranks& ranks,
                                 const std::function<std::vector<std::byte>(int)>& make,
                                 std::vector<std::byte>& mine);

/// Every rank's image `mine`, rank after rank, into `all` on rank 0 (untouched elsewhere).
/// Returns false on every rank when rank 0 cannot make room.
[[nodiscard]] bool gatherImages(const Ranks& ranks, const std::vector<std::byte>& mine,
                                std::vector<std::byte>& all);

}  // namespace hydro::runoff
