#!/usr/bin/env bash
# The whole chain on the bundled example basin, from a fresh clone: installs missing build
# tools, builds the release preset, lays the example out in a scratch folder under the build
# tree and runs, there, runoff_sim, then in its output/ discharge_map (automatic bounds) and
# discharge_series for the outlet of the largest listed river, and draws that outlet's
# hydrograph, and writes the results page. Ends by saying where everything is and what the peak
# discharge was.
# OMP_NUM_THREADS chooses the thread count (all cores by default).
set -euo pipefail
start=$SECONDS
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

tools/install_packages.sh

echo "== building (release preset): every program, so that cmake --install finds them all"
cmake --preset release -DHYDRO_BUILD_TESTS=OFF -DHYDRO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build --preset release >/dev/null
bin="$root/build/release"

run="$root/build/release/example"
rm -rf "$run"
cp -r examples/real-basin "$run"
cd "$run"

echo "== runoff_sim in $run"
# The whole console text goes to runoff_sim.log; the screen is spared the progress lines.
"$bin/runoff_sim/runoff_sim" | tee runoff_sim.log | grep -v '% ends\.$'
# The example's results were recorded when it was made: the same bytes must come out.
if ! cmp -s runoff_sim.log expected/console.txt; then
    echo "The console text differs from expected/console.txt." >&2
    exit 1
fi
(cd output && sha256sum --quiet -c ../expected/outputs.sha256)
echo "(console text and the three grids are exactly as recorded)"

cd output
mkdir -p image
echo "== discharge_map (automatic bounds)"
echo n | "$bin/discharge_map/discharge_map" >discharge_map.log
grep "^Maximun discharge" discharge_map.log || true
frames=$(find image -name '*_discharge.ppm' | wc -l)
echo "$frames hourly maps written"

read -r column row river accumulation < <("$bin/hydrograph/outlet_hydrograph" outlet ..)
echo "== discharge_series for the outlet of river $river (column $column, row $row;" \
    "$accumulation cells drain through it)"
printf '%s\n%s\n' "$column" "$row" | "$bin/discharge_series/discharge_series" >discharge_series.log
series="$column-${row}_discharge.dat"

echo "== outlet_hydrograph"
peak=$("$bin/hydrograph/outlet_hydrograph" plot .. "$column" "$row" "$series" hydrograph.svg)

# The printed peak is the series file's largest value (its first hour if repeated).
expected=$(awk 'NR == 1 || $2 + 0 > best + 0 { best = $2 } END { print best }' "$series")
case "$peak" in
*": $expected m3/s "*) ;;
*)
    echo "The peak printed ($peak) is not the largest value of $series ($expected)." >&2
    exit 1
    ;;
esac

echo "== results_page"
"$bin/results_page/results_page" "$run" 2>/dev/null

# The second example: a case made by make_case from a real 30" elevation tile and real radar
# rainfall (examples/bonn-sieg, which bundles both), then dry hours to see the wave fall.
bonn_source="${SOURCE:-$root/examples/bonn-sieg/source}"
bonn="$root/build/release/bonn-sieg"
bonn_report="  bonn-sieg   skipped: no $bonn_source (set SOURCE to the folder of bonn_gtopo.tif)"
if [[ -f "$bonn_source/bonn_gtopo.tif" && -f "$bonn_source/RW-20221018.tar.gz" ]]; then
    echo "== the second example, built by make_case: the Sieg and the Ahr, 18 October 2022"
    SOURCE="$bonn_source" HYDRO_BIN="$bin" "$root/examples/bonn-sieg/build.sh" "$bonn" \
        >"$root/build/release/bonn-sieg.log"
    read -r bcolumn brow briver _ < <("$bin/hydrograph/outlet_hydrograph" outlet "$bonn/case")
    (cd "$bonn/case/output" &&
        printf '%s\n%s\n' "$bcolumn" "$brow" | "$bin/discharge_series/discharge_series" \
            >discharge_series.log)
    bpeak=$("$bin/hydrograph/outlet_hydrograph" plot "$bonn/case" "$bcolumn" "$brow" \
        "$bonn/case/output/$bcolumn-${brow}_discharge.dat" "$bonn/case/output/hydrograph.svg")
    # The run goes on past the rain: the outlet's peak comes before its last hour.
    bseries="$bonn/case/output/$bcolumn-${brow}_discharge.dat"
    if ! awk 'NR == 1 || $2 + 0 > best + 0 { best = $2; at = NR } END { exit !(at < NR) }' \
        "$bseries"; then
        echo "The Sieg's peak is the last hour of $bseries: the run ends before the wave falls." >&2
        exit 1
    fi
    "$bin/results_page/results_page" "$bonn/case" 2>/dev/null
    bonn_report="  bonn-sieg   $bonn/case/output: hydrograph.svg of river $briver, index.html
  $bpeak"
fi

cd "$run/output"
first=$(find image -name '*_discharge.ppm' | sort | head -1)
last=$(find image -name '*_discharge.ppm' | sort | tail -1)
cat <<REPORT

Done in $((SECONDS - start)) s. Results in $run/output:
  grids       dischargeDaily.bin, dischargeHourlyMaxInDay.bin, dischargeHourly.bin
              with a .vrt of the same name beside each, for GIS tools (QGIS, GDAL, rasterio)
  maps        "$run/output/$first" ... "$run/output/$last"
  series      $run/output/$series
  hydrograph  $run/output/hydrograph.svg
  page        $run/output/index.html
$peak
$bonn_report
REPORT
