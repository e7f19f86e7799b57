#!/usr/bin/env bash
# End-to-end benchmark of make_case terrain: the wall time of the whole command, best of
# three, the rate in cells per second and the peak resident memory per cell, on
#   - the 2400 x 2400 fractal DEM that bench_make_case writes (5.76 M cells, full of pits);
#   - with a real DEM given (any GDAL raster of elevations), that DEM's cells declared as
#     30" cells in WGS 84 (gdal_translate -a_srs -a_ullr, no resampling): once on the grid's
#     cell edges, so that no warp is needed, and once shifted by half a cell, so that the
#     GDAL warp resamples every cell.
# Run it on an idle machine.
#
#   bench/terrain_speed.sh [REAL_DEM.tif]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
real=""
[ $# -gt 0 ] && real=$(realpath "$1")
cd "$root"
cmake --preset release -DHYDRO_BUILD_TESTS=OFF -DHYDRO_BUILD_BENCHMARKS=ON >/dev/null
cmake --build --preset release --target make_case bench_make_case >/dev/null
dem="${TMPDIR:-/tmp}/make_case_bench/fractal2400.tif"
[ -f "$dem" ] || build/release/bench/bench_make_case --benchmark_filter=BM_readGeoTiff \
    --benchmark_min_time=0.01 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"

measure() {  # measure NAME DEM CELLS: best of three
    local name=$1 input=$2 cells=$3 best="" rss=0
    for _ in 1 2 3; do
        rm -rf "$work/case"
        /usr/bin/time -f "%e %M" -o "$work/time.txt" build/release/make_case/make_case terrain \
            "$input" "$work/case" >/dev/null
        read -r wall kib < "$work/time.txt"
        best=$(python3 -c "a='$best'; print($wall if not a else min(float(a), $wall))")
        rss=$kib
    done
    python3 -c "
print(f'make_case terrain, $name: {$best:.2f} s wall, {$cells / $best / 1e6:.2f} M cells/s, '
      f'peak {$rss / 1024:.0f} MiB ({$rss * 1024 / $cells:.0f} B/cell)')"
}
measure "fractal 2400 x 2400" "$dem" $((2400 * 2400))

if [ -n "$real" ]; then
    read -r cols rows < <(gdalinfo "$real" | sed -n 's/^Size is \([0-9]*\), \([0-9]*\)$/\1 \2/p')
    # West and south edges on whole 30" cells (-118 1/3 E, 34 1/4 N), then half a cell off.
    for shift in 0 0.5; do
        read -r w n e s < <(python3 -c "
w, s = -14200 / 120 + $shift / 120, 4110 / 120
print(w, s + $rows / 120, w + $cols / 120, s)")
        gdal_translate -q -a_srs EPSG:4326 -a_ullr "$w" "$n" "$e" "$s" "$real" "$work/real.tif"
        name="real DEM, $cols x $rows"
        [ "$shift" = 0 ] && name="$name, on the grid" || name="$name, warped (half a cell off)"
        measure "$name" "$work/real.tif" $((cols * rows))
    done
fi
