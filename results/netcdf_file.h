#pragma once

// A NetCDF-4 file in the classic model, written through the NetCDF C library. The first
// failing call is remembered with its library message; later calls then do nothing, so a
// writer can state its whole layout and check `error()` once per stage.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace hydro::results {

/// Default deflate level of the data variables: the fastest zlib level.
inline constexpr int kDeflateLevel = 1;

class NetcdfFile {
public:
    enum class Type { kChar, kInt, kFloat, kDouble };

    NetcdfFile() = default;
    ~NetcdfFile();
    NetcdfFile(const NetcdfFile&) = delete;
    NetcdfFile& operator=(const NetcdfFile&) = delete;
    NetcdfFile(NetcdfFile&&) = delete;
    NetcdfFile& operator=(NetcdfFile&&) = delete;

    /// Creates `path` (NetCDF-4, classic model); an existing file is not replaced. Throws
    /// std::bad_alloc, before calling the library, when too little memory is left for it.
    /// With `classicModel` false, the file is NetCDF-4 without the classic model's limits
    /// (the library quantizes only then).
    bool create(const std::filesystem::path& path, bool classicModel = true);
    /// Creates the Zarr store `folder` (a directory, which must not exist) through the
    /// library's NCZarr code in its plain Zarr mode (version 2 metadata with xarray's
    /// _ARRAY_DIMENSIONS, nothing of the library's own: its reader of the NCZarr extras fails
    /// on scalar variables in 4.9.0); like `create` otherwise.
    bool createZarr(const std::filesystem::path& folder, bool classicModel = true);
    /// A dimension; returns its id.
    int defineDimension(const std::string& name, std::size_t length);
    /// A variable over `dimensions` (ids, slowest first); returns its id.
    int defineVariable(const std::string& name, Type type, std::initializer_list<int> dimensions);
    /// Chunks of the given lengths, one per dimension, deflated at `level` (0: stored as is).
    void compress(int variable, std::initializer_list<std::size_t> chunks,
                  int level = kDeflateLevel);
    /// Keeps `digits` significant decimal digits of the values written to `variable` (1 to 6
    /// for float): the library rounds away the other mantissa bits (granular bit rounding) and
    /// records the digits in the variable's attribute. Lossy. The file must not be in the
    /// classic model, and no attribute of any variable may follow.
    void quantize(int variable, int digits);
    /// Attributes; `kGlobal` as the variable for global ones.
    void text(int variable, const std::string& name, const std::string& value);
    void number(int variable, const std::string& name, double value);
    void number(int variable, const std::string& name, float value);
    void number(int variable, const std::string& name, std::int32_t value);
    void numbers(int variable, const std::string& name, std::span<const double> values);
    /// Leaves define mode.
    void endDefinitions();
    /// Writes the hyperslab at `start` of lengths `count`.
    void put(int variable, std::initializer_list<std::size_t> start,
             std::initializer_list<std::size_t> count, const float* values);
    void put(int variable, std::initializer_list<std::size_t> start,
             std::initializer_list<std::size_t> count, const double* values);
    void put(int variable, std::initializer_list<std::size_t> start,
             std::initializer_list<std::size_t> count, const std::int32_t* values);
    void put(int variable, std::initializer_list<std::size_t> start,
             std::initializer_list<std::size_t> count, const char* values);
    void put(int variable, std::span<const std::size_t> start, std::span<const std::size_t> count,
             const float* values);
    /// Writes the value of a scalar variable (without prefill, one never written holds
    /// whatever bytes the file had there).
    void put(int variable, std::int32_t value);
    /// Closes the file; true when every call succeeded. When the close itself fails, the
    /// library keeps the file open and cannot be made to let go of it (see hydro::endRun);
    /// the file is not touched again.
    [[nodiscard]] bool close();

    [[nodiscard]] bool failed() const { return !error_.empty(); }
    /// What failed first, as the NetCDF library says it.
    [[nodiscard]] const std::string& error() const { return error_; }

    static constexpr int kGlobal = -1;

private:
    bool check(int status, const std::string& what);

    int id_ = -1;
    std::string error_;
};

}  // namespace hydro::results
