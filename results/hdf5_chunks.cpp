#include "results/hdf5_chunks.h"

#include <hdf5.h>

#include <array>

namespace hydro::results {

static_assert(sizeof(hid_t) == sizeof(std::int64_t));

Hdf5ChunkFile::~Hdf5ChunkFile() {
    static_cast<void>(close());
}

void Hdf5ChunkFile::fail(const std::string& what) {
    if (error_.empty()) {
        error_ = what + ": HDF5 error";
    }
}

bool Hdf5ChunkFile::open(const std::filesystem::path& path) {
    // Failures come back as values; the library's own printing of its error stack stays off.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    file_ = H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
    if (file_ < 0) {
        fail("reopening the file");
    }
    return !failed();
}

int Hdf5ChunkFile::dataset(const std::string& name) {
    if (failed()) {
        return -1;
    }
    const hid_t set = H5Dopen2(file_, name.c_str(), H5P_DEFAULT);
    if (set < 0) {
        fail("variable " + name);
        return -1;
    }
    datasets_.push_back(set);
    return static_cast<int>(datasets_.size() - 1);
}

void Hdf5ChunkFile::writeChunk(int dataset, std::span<const std::uint64_t> offset,
                               std::span<const std::byte> bytes) {
    if (failed()) {
        return;
    }
    std::array<hsize_t, H5S_MAX_RANK> at{};
    for (std::size_t k = 0; k < offset.size() && k < at.size(); ++k) {
        at[k] = static_cast<hsize_t>(offset[k]);
    }
    constexpr std::uint32_t kEveryFilterApplied = 0;
    if (H5Dwrite_chunk(datasets_.at(static_cast<std::size_t>(dataset)), H5P_DEFAULT,
                       kEveryFilterApplied, at.data(), bytes.size(), bytes.data())
        < 0) {
        fail("writing values");
    }
}

bool Hdf5ChunkFile::close() {
    for (const hid_t set : datasets_) {
        if (H5Dclose(set) < 0) {
            fail("closing a variable");
        }
    }
    datasets_.clear();
    if (file_ >= 0) {
        if (H5Fclose(file_) < 0) {
            fail("closing the file");
        }
        file_ = -1;
    }
    return !failed();
}

}  // namespace hydro::results
