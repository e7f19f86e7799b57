#!/usr/bin/env bash
# End-to-end benchmark of make_case terrain on the 2400 x 2400 fractal DEM that
# bench_make_case writes (5.76 M cells): the wall time of the whole command, best of three,
# the rate in cells per second and the peak resident memory per cell. Run it on an idle machine.
#
#   bench/terrain_fractal.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset release -DHYDRO_BUILD_TESTS=OFF -DHYDRO_BUILD_BENCHMARKS=ON >/dev/null
cmake --build --preset release --target make_case bench_make_case >/dev/null
dem="${TMPDIR:-/tmp}/make_case_bench/fractal2400.tif"
[ -f "$dem" ] || build/release/bench/bench_make_case --benchmark_filter=BM_readGeoTiff \
    --benchmark_min_time=0.01 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
best=""
rss=0
for _ in 1 2 3; do
    rm -rf "$work/case"
    /usr/bin/time -f "%e %M" -o "$work/time.txt" build/release/make_case/make_case terrain \
        "$dem" "$work/case" >/dev/null
    read -r wall kib < "$work/time.txt"
    best=$(python3 -c "a='$best'; print($wall if not a else min(float(a), $wall))")
    rss=$kib
done
python3 -c "
cells = 2400 * 2400
print(f'make_case terrain, fractal 2400 x 2400: {$best:.2f} s wall, {cells / $best / 1e6:.2f} M cells/s, '
      f'peak {$rss / 1024:.0f} MiB ({$rss * 1024 / cells:.0f} B/cell)')"
