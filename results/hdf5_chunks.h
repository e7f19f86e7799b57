#pragma once

// Finished chunks written straight into the datasets of a NetCDF-4 file, after the NetCDF
// library has defined and closed it: the file is reopened with the HDF5 library, each chunk's
// bytes are stored as they are, and the datasets' filters are not run again. Everything the
// NetCDF library wrote (dimensions, attributes, its bookkeeping) stays as it was. Like
// NetcdfFile, the first failure is remembered and later calls do nothing.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace hydro::results {

class Hdf5ChunkFile {
public:
    Hdf5ChunkFile() = default;
    ~Hdf5ChunkFile();
    Hdf5ChunkFile(const Hdf5ChunkFile&) = delete;
    Hdf5ChunkFile& operator=(const Hdf5ChunkFile&) = delete;
    Hdf5ChunkFile(Hdf5ChunkFile&&) = delete;
    Hdf5ChunkFile& operator=(Hdf5ChunkFile&&) = delete;

    /// Opens the closed NetCDF-4 file `path` for writing.
    bool open(const std::filesystem::path& path);
    /// The dataset of the variable `name`; returns a handle for writeChunk, or -1.
    int dataset(const std::string& name);
    /// Stores `bytes` as the chunk whose first element is at `offset` (one index per
    /// dimension, a multiple of the chunk lengths), all of the dataset's filters applied.
    void writeChunk(int dataset, std::span<const std::uint64_t> offset,
                    std::span<const std::byte> bytes);
    /// Closes the datasets and the file; true when every call succeeded.
    [[nodiscard]] bool close();

    [[nodiscard]] bool failed() const { return !error_.empty(); }
    [[nodiscard]] const std::string& error() const { return error_; }

private:
    void fail(const std::string& what);

    std::int64_t file_ = -1;
    std::vector<std::int64_t> datasets_;
    std::string error_;
};

}  // namespace hydro::results
