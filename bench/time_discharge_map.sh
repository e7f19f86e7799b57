#!/usr/bin/env bash
# End-to-end timing of the map renderer: renders every hour of a synthetic hourly grid
# (default 643 x 1197 cells, 2 days = 48 images of 57 MB) at 1 and 2 threads, a few times
# each, and checks that both thread counts give the same console text and images.
#
# Usage: bench/time_discharge_map.sh [ROWS COLS DAYS [RUNS]]   (after the release build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
program="$root/build/release/discharge_map/discharge_map"
rows="${1:-643}" cols="${2:-1197}" days="${3:-2}" runs="${4:-3}"
[ -x "$program" ] || { echo "build the release preset first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$root/tools/make_discharge_grid.py" "$work" "$rows" "$cols" "$days"
cd "$work/output"
cat dischargeHourly.bin >/dev/null  # start every run from a warm file
# One uncounted run first: the first 2.6 GB written after the grid was made costs the kernel
# far more than later ones.
"$program" <<<"n" >/dev/null

for threads in 1 2; do
    for ((i = 1; i <= runs; ++i)); do
        rm -f image/*
        /usr/bin/time -f "threads=$threads run=$i wall=%es user=%Us sys=%Ss" \
            env OMP_NUM_THREADS="$threads" "$program" <<<"n" >"$work/console-$threads.txt"
    done
    (cd image && sha256sum -- *) >"$work/images-$threads.sha256"
done
cmp -s "$work/console-1.txt" "$work/console-2.txt" && cmp -s "$work/images-1.sha256" "$work/images-2.sha256" \
    && echo "1 and 2 threads: same console text and images" \
    || { echo "1 and 2 threads differ" >&2; exit 1; }
