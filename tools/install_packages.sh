#!/usr/bin/env bash
# Installs the Debian packages that this machine lacks for building and running the programs
# (GDAL's development files for make_case among them);
# with --all also those the tests and checks use (GoogleTest, Google Benchmark, clang-format,
# GDAL's command-line tools, the SVG renderer, the NetCDF tools and Python module, clang with
# LLVM's OpenMP runtime for the ThreadSanitizer build and libFuzzer, Chromium with Node.js for
# the results page's browser test, whose Node packages it then installs from their lockfile).
# Needs root, or sudo.
set -euo pipefail

packages=()
need() {  # need <package> <file or command that it provides>
    if [[ "$2" == /* ]]; then
        [ -e "$2" ] || packages+=("$1")
    else
        command -v "$2" >/dev/null || packages+=("$1")
    fi
}
need cmake cmake
need ninja-build ninja
need g++ g++
need zlib1g-dev /usr/include/zlib.h
need libnetcdf-dev /usr/include/netcdf.h
# discharge_netcdf stores its deflated chunks through HDF5 directly.
need libhdf5-dev /usr/include/hdf5/serial/hdf5.h
# ... deflated by libdeflate (standard zlib streams, about twice as fast as zlib).
need libdeflate-dev /usr/include/libdeflate.h
need pkg-config pkg-config
# make_case reads DEMs through GDAL's C++ library.
need libgdal-dev /usr/include/gdal/gdal_priv.h
if [ "${1:-}" = "--all" ]; then
    need clang-format clang-format
    need clang-tidy run-clang-tidy
    need libgtest-dev /usr/include/gtest/gtest.h
    need libgmock-dev /usr/include/gmock/gmock.h
    need libbenchmark-dev /usr/include/benchmark/benchmark.h
    need gdal-bin gdalinfo
    need librsvg2-bin rsvg-convert
    need netcdf-bin ncdump
    need python3-netcdf4 /usr/lib/python3/dist-packages/netCDF4
    # discharge_netcdf's Zarr store is opened with xarray in its test.
    need python3-xarray /usr/lib/python3/dist-packages/xarray
    need python3-zarr /usr/lib/python3/dist-packages/zarr
    # The fuzz preset: clang, and libFuzzer with clang's sanitizer runtimes (only recommended
    # by clang, so named here), and clang's OpenMP headers for configuring the whole tree.
    need clang clang++
    need libclang-rt-14-dev /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a
    need libomp-dev /usr/lib/llvm-14/lib/clang/14.0.6/include/omp.h
    # The MPI build of runoff_sim (preset mpi) and its tests under mpirun.
    need libopenmpi-dev /usr/include/x86_64-linux-gnu/openmpi/mpi.h
    need openmpi-bin mpirun
    need chromium /usr/bin/chromium
    need fonts-dejavu-core /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
    need nodejs node
    need npm npm
fi
browser_packages() {  # Playwright for the browser test, exactly as the lockfile pins it
    if [ "${1:-}" = "--all" ]; then
        (cd "$(dirname "$0")/../tests/results_page/browser" && npm ci --no-audit --no-fund --silent)
    fi
}
if [ ${#packages[@]} -eq 0 ]; then
    browser_packages "${1:-}"
    exit 0
fi

echo "== installing ${packages[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "Missing Debian packages: ${packages[*]} (install them as root)." >&2
        exit 1
    fi
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${packages[@]}"
browser_packages "${1:-}"
