#!/usr/bin/env bash
# Builds the bonn-sieg case with make_case from the real source files into a scratch folder
# (default build/release/bonn-sieg) and runs runoff_sim there.
#   examples/bonn-sieg/build.sh [SCRATCH]
# SOURCE names the folder holding bonn_gtopo.tif and RW-20221018.tar.gz (default: source/
# beside this script, where both are bundled); HYDRO_BIN a build tree whose make_case and
# runoff_sim to use instead of building the release preset; THEN_DRY the dry hours run after
# the radar day (default 72) so that the flood wave is seen to fall.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
here="$root/examples/bonn-sieg"
source_dir="${SOURCE:-$here/source}"
then_dry="${THEN_DRY:-72}"
scratch="${1:-$root/build/release/bonn-sieg}"
for f in bonn_gtopo.tif RW-20221018.tar.gz; do
    if [[ ! -f "$source_dir/$f" ]]; then
        echo "$source_dir/$f is missing; set SOURCE to the folder that holds it." >&2
        exit 1
    fi
done
if [[ -z "${HYDRO_BIN:-}" ]]; then
    echo "== building make_case and runoff_sim (release preset)"
    (cd "$root" && cmake --preset release -DHYDRO_BUILD_TESTS=OFF -DHYDRO_BUILD_BENCHMARKS=OFF \
        >/dev/null && cmake --build --preset release --target make_case runoff_sim >/dev/null)
    HYDRO_BIN="$root/build/release"
fi
make_case="$HYDRO_BIN/make_case/make_case"
runoff_sim="$HYDRO_BIN/runoff_sim/runoff_sim"

rm -rf "$scratch"
mkdir -p "$scratch"
case_dir="$scratch/case"

echo "== terrain: the 30\" tile cut to the Sieg and the Ahr, outlets by coordinates and area"
# The tile names no CRS; its coordinates are WGS 84 degrees. A snap radius of 3 cells finds
# the Ahr's channel, which this coarse DEM places about 3 km from the mapped mouth.
"$make_case" terrain "$source_dir/bonn_gtopo.tif" "$case_dir" --dem-crs EPSG:4326 \
    --bbox 6.7 50.2 8.4 51.2 --outlets "$here/outlets.csv" --snap-radius 3

echo "== params"
"$make_case" params "$case_dir" --time-step 60 --space-steps 4 --weight 0.6 \
    --manning-slope 0.6 --manning-channel 0.03 --channel-cells 50 --initial-runoff 0.1

echo "== rain: 24 hourly radar grids of 18 October 2022 (Deutscher Wetterdienst, RADOLAN RW)"
mkdir -p "$scratch/radar"
tar -xzf "$source_dir/RW-20221018.tar.gz" -C "$scratch/radar"
# Polar stereographic grid in metres, values in 0.1 mm, each file the hour ending at HH:50.
# The radar day ends while the rivers still rise: the dry hours after it (an assumption, no
# data) let the run show the flood wave pass and fall.
"$make_case" rain "$scratch"/radar/RW_*.asc "$case_dir" \
    --crs "+proj=stere +lat_0=90 +lat_ts=60 +lon_0=10 +a=6370040 +b=6370040 +x_0=0 +y_0=0 +units=m" \
    --time-format 'RW_%Y%m%d-%H%M.asc' --time-is-end --scale 0.1 --spacing 0.05 \
    --then-dry "$then_dry"

"$make_case" check "$case_dir"
echo "== runoff_sim in $case_dir"
(cd "$case_dir" && "$runoff_sim" | grep -v '% ends\.$')
echo "Case and results in $case_dir"
