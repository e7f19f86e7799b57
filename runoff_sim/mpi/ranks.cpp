#include "runoff_sim/mpi/ranks.h"

#include <mpi.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <span>
#include <string>

namespace hydro::runoff {

namespace {

/// Bytes moved per MPI call: well below the 2 GiB a call's count can describe.
constexpr std::size_t kImageChunk = std::size_t{1} << 28U;
/// The size rank 0 sends in place of an image it could not make.
constexpr std::uint64_t kNoImage = ~std::uint64_t{0};

template <class Byte, class Move>
void inChunks(std::span<Byte> bytes, Move move) {
    for (std::size_t at = 0; at < bytes.size(); at += kImageChunk) {
        move(bytes.data() + at, static_cast<int>(std::min(kImageChunk, bytes.size() - at)));
    }
}

}  // namespace

Ranks::Ranks() {
    MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
    MPI_Comm_size(MPI_COMM_WORLD, &size_);
}

Status Ranks::agree(Status mine) const {
    int own = mine ? size_ : rank_;
    int lowest = size_;
    MPI_Allreduce(&own, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    if (lowest == size_) {
        return success();
    }
    if (lowest == rank_) {
        if (!root()) {
            const std::string& line = mine.error().message;
            const auto length = static_cast<int>(line.size());
            MPI_Send(&length, 1, MPI_INT, 0, 0, MPI_COMM_WORLD);
            MPI_Send(line.data(), length, MPI_CHAR, 0, 1, MPI_COMM_WORLD);
        }
        return mine;
    }
    if (root()) {
        int length = 0;
        MPI_Recv(&length, 1, MPI_INT, lowest, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        std::string line(static_cast<std::size_t>(length), '\0');
        MPI_Recv(line.data(), length, MPI_CHAR, lowest, 1, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        return Error{line};
    }
    // A rank other than 0 prints nothing: any error will do.
    return mine ? Status{Error{}} : mine;
}

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
    inChunks(std::span(bytes),
             [](std::byte* at, int n) { MPI_Bcast(at, n, MPI_BYTE, 0, MPI_COMM_WORLD); });
    return true;
}

namespace {

constexpr int kSizeTag = 11;
constexpr int kRoomTag = 12;
constexpr int kImageTag = 13;

/// Rank 0's side of scatterImages; returns false when an image could not be made or placed.
bool sendImages(const Ranks& ranks, const std::function<std::vector<std::byte>(int)>& make) {
    bool ok = true;
    for (int r = 1; r < ranks.size(); ++r) {
        std::vector<std::byte> image;
        std::uint64_t size = kNoImage;
        if (ok) {
            try {
                image = make(r);
                size = image.size();
            } catch (const std::bad_alloc&) {
                ok = false;
            }
        }
        MPI_Send(&size, 1, MPI_UINT64_T, r, kSizeTag, MPI_COMM_WORLD);
        if (size == kNoImage) {
            continue;
        }
        int room = 0;
        MPI_Recv(&room, 1, MPI_INT, r, kRoomTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        if (room == 0) {
            ok = false;
            continue;
        }
        inChunks(std::span(image), [r](std::byte* at, int n) {
            MPI_Send(at, n, MPI_BYTE, r, kImageTag, MPI_COMM_WORLD);
        });
    }
    return ok;
}

/// The side of scatterImages of a rank other than 0.
bool receiveImage(std::vector<std::byte>& mine) {
    std::uint64_t size = 0;
    MPI_Recv(&size, 1, MPI_UINT64_T, 0, kSizeTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    if (size == kNoImage) {
        return false;
    }
    int room = 1;
    try {
        mine.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        room = 0;
    }
    MPI_Send(&room, 1, MPI_INT, 0, kRoomTag, MPI_COMM_WORLD);
    if (room == 0) {
        return false;
    }
    inChunks(std::span(mine), [](std::byte* at, int n) {
        MPI_Recv(at, n, MPI_BYTE, 0, kImageTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    });
    return true;
}

}  // namespace

bool scatterImages(const Ranks& ranks, const std::function<std::vector<std::byte>(int)>& make,
                   std::vector<std::byte>& mine) {
    int ok = (ranks.root() ? sendImages(ranks, make) : receiveImage(mine)) ? 1 : 0;
    int everywhere = 0;
    MPI_Allreduce(&ok, &everywhere, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    return everywhere != 0;
}

namespace {

constexpr int kGatherTag = 14;

}  // namespace

bool gatherImages(const Ranks& ranks, const std::vector<std::byte>& mine,
                  std::vector<std::byte>& all) {
    auto size = static_cast<std::uint64_t>(mine.size());
    std::vector<std::uint64_t> sizes(ranks.root() ? static_cast<std::size_t>(ranks.size()) : 0U);
    MPI_Gather(&size, 1, MPI_UINT64_T, sizes.data(), 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
    int room = 1;
    if (ranks.root()) {
        std::uint64_t total = 0;
        for (const std::uint64_t s : sizes) {
            total += s;
        }
        try {
            all.resize(static_cast<std::size_t>(total));
        } catch (const std::bad_alloc&) {
            room = 0;
        }
    }
    MPI_Bcast(&room, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (room == 0) {
        return false;
    }
    if (ranks.root()) {
        std::copy(mine.begin(), mine.end(), all.begin());
        std::size_t at = mine.size();
        for (int r = 1; r < ranks.size(); ++r) {
            const std::span<std::byte> part(
                all.data() + at, static_cast<std::size_t>(sizes[static_cast<std::size_t>(r)]));
            inChunks(part, [r](std::byte* p, int n) {
                MPI_Recv(p, n, MPI_BYTE, r, kGatherTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            });
            at += part.size();
        }
    } else {
        inChunks(std::span(mine), [](const std::byte* p, int n) {
            MPI_Send(p, n, MPI_BYTE, 0, kGatherTag, MPI_COMM_WORLD);
        });
    }
    return true;
}

}  // namespace hydro::runoff
