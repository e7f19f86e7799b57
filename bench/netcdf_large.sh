#!/usr/bin/env bash
# End-to-end benchmark of discharge_netcdf on a case whose simulator output exists (by
# default the large basin, run once beforehand): the wall time and the rate of hourly grid
# read in, best of three, for the lossless file (frames and time-series tiles), the quantized
# files (3, 4, 5 significant digits: size and largest relative error against the lossless
# values) and the Zarr store; then the time xarray takes to read one cell's whole series and
# one hour's map from each layout. Run it on an idle machine.
#
#   bench/netcdf_large.sh CASE_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
case_dir=$(cd "$1" && pwd)
cd "$root"
cmake --preset release -DHYDRO_BUILD_TESTS=OFF >/dev/null
cmake --build --preset release --target discharge_netcdf >/dev/null
nc="$root/build/release/discharge_netcdf/discharge_netcdf"
py=/usr/bin/python3  # Debian's xarray belongs to the system's interpreter
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hourly=$(stat -c %s "$case_dir/output/dischargeHourly.bin")
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores; hourly grid $((hourly / 1000000)) MB"

run() {  # run NAME OUT ARGS...: best of three wall seconds, the rate and the size
    local name=$1 out=$2 best=""
    shift 2
    for _ in 1 2 3; do
        rm -rf "$out"
        local t0 t1
        t0=$(date +%s.%N)
        "$nc" "$case_dir" "$out" "$@" >/dev/null
        t1=$(date +%s.%N)
        best=$(python3 -c "a='$best'; t=$t1-$t0; print(t if not a else min(float(a), t))")
    done
    local size
    size=$(du -sb "$out" | cut -f1)
    python3 -c "print(f'$name: {$best:.2f} s, {$hourly / 1e6 / $best:.0f} MB/s of hourly grid, {$size / 1e6:.1f} MB')"
}
run "lossless, frames" "$work/frames.nc"
run "lossless, time-series tiles" "$work/tiles.nc" --chunks time-series
run "not deflated (--deflate 0)" "$work/zero.nc" --deflate 0
for n in 3 4 5; do
    run "--significant-digits $n" "$work/q$n.nc" --significant-digits "$n"
done
run "Zarr, frames" "$work/frames.zarr" --format zarr
run "Zarr, time-series tiles" "$work/tiles.zarr" --format zarr --chunks time-series

"$py" - "$work" <<'PY'
import os, sys, time
import numpy as np
import xarray as xr
work = sys.argv[1]
ref = xr.open_dataset(f"{work}/frames.nc", decode_times=False)["discharge"]
mask = ref.isel(time=0).values > 0
for n in (3, 4, 5):
    q = xr.open_dataset(f"{work}/q{n}.nc", decode_times=False)["discharge"].values
    r = ref.values
    ok = r > 0
    err = np.max(np.abs(q[ok] - r[ok]) / r[ok])
    # The order-0 entropy of the stored 32-bit patterns: no codec that codes each value on
    # its own (deflate's Huffman stage is one) can make the values smaller than this.
    _, counts = np.unique(np.ascontiguousarray(q, dtype=np.float32).view(np.uint32),
                          return_counts=True)
    p = counts / counts.sum()
    bound = -(p * np.log2(p)).sum() * q.size / 8
    lossless = os.path.getsize(f"{work}/frames.nc")
    print(f"--significant-digits {n}: largest relative error {err:.2e}; entropy of the values "
          f"{bound / 1e6:.1f} MB, {100 * bound / lossless:.0f} % of the lossless file")
# A cell with water at the peak, and the middle hour.
iy, ix = [int(v[len(v) // 2]) for v in np.nonzero(mask)]
hour = ref.sizes["time"] // 2
for name, path, engine in (("frames.nc", "frames.nc", None), ("tiles.nc", "tiles.nc", None),
                           ("frames.zarr", "frames.zarr", "zarr"), ("tiles.zarr", "tiles.zarr", "zarr")):
    best_series = best_map = float("inf")
    for _ in range(3):
        ds = xr.open_dataset(f"{work}/{path}", engine=engine, decode_times=False)
        t0 = time.perf_counter(); ds["discharge"].isel(lat=iy, lon=ix).values
        t1 = time.perf_counter(); ds["discharge"].isel(time=hour).values
        t2 = time.perf_counter()
        best_series, best_map = min(best_series, t1 - t0), min(best_map, t2 - t1)
        ds.close()
    print(f"{name}: one cell's series {best_series * 1000:.0f} ms, one hour's map {best_map * 1000:.0f} ms")
PY
