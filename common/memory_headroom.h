#pragma once

// A check of free address space before a call into a file library (NetCDF, HDF5, GDAL) that
// does not survive running out of memory inside it.

#include <sys/mman.h>

#include <cstddef>
#include <cstdio>
#include <new>

namespace hydro {

/// Address space the NetCDF and HDF5 libraries need to create or open a small file and to set
/// themselves up on their first call, with a wide margin: some 1.5 MiB was measured.
inline constexpr std::size_t kLibraryHeadroom = std::size_t{4} << 20;

/// True when `bytes` of address space can be reserved now; the reservation is released at
/// once, so that what follows has at least that much. Reserving maps nothing in (PROT_NONE,
/// no swap reserved) and so costs no memory.
[[nodiscard]] inline bool hasHeadroom(std::size_t bytes = kLibraryHeadroom) noexcept {
    void* block =
        ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (block == MAP_FAILED) {
        return false;
    }
    static_cast<void>(::munmap(block, bytes));
    return true;
}

/// Throws std::bad_alloc unless `bytes` of address space are free (see hasHeadroom).
/// libnetcdf 4.9 and libhdf5 1.10 crash when an allocation fails while HDF5 sets itself up
/// (H5Eset_auto2 at the first call) or while nc_create unwinds a half-made file (NC4_create's
/// clean-up frees an index it never made), and GDAL's netCDF driver aborts in CPLMalloc; so
/// the run must end with its memory line before such a call, not inside it.
inline void requireHeadroom(std::size_t bytes = kLibraryHeadroom) {
    if (!hasHeadroom(bytes)) {
        throw std::bad_alloc();
    }
}

/// For the first line of main, before anything allocates: false, after printing the memory
/// line, when too little is left even to start. So little that the C++ runtime could not set
/// up its reserve for exceptions as it loaded, and a std::bad_alloc would end the process in
/// std::terminate instead of reaching main's handler.
[[nodiscard]] inline bool canStart() noexcept {
    if (hasHeadroom()) {
        return true;
    }
    static_cast<void>(std::fputs("Not enough memory for this run.\n", stdout));
    static_cast<void>(std::fflush(stdout));
    return false;
}

}  // namespace hydro
