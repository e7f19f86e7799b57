#!/usr/bin/env bash
# Remakes the README's pictures from the example run (tools/run_example.sh first): the map of
# the outlet's peak hour and the hydrograph, both as PNG in docs/; and the results page at that
# hour as the browser test saved it (ctest --preset browser first).
# Needs python3 and rsvg-convert (librsvg2-bin).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/release/example/output"
series=$(cd "$out" && ls ./*_discharge.dat | head -1)
# The first hour with the series' largest value.
hour=$(awk 'NR == 1 || $2 + 0 > best + 0 { best = $2; hour = $1 } END { print hour }' "$out/$series")
mkdir -p "$root/docs"
"$root/tools/ppm_to_png.py" "$out/image/$(printf '%4d' "$hour")_discharge.ppm" \
    "$root/docs/example_map.png"
rsvg-convert --format png --output "$root/docs/example_hydrograph.png" "$out/hydrograph.svg"
echo "docs/example_map.png (hour $hour), docs/example_hydrograph.png"
page="$root/build/dev/tests/results_page/results_page_peak.png"
if [ -f "$page" ]; then
    cp "$page" "$root/docs/results_page.png"
    echo "docs/results_page.png (from the browser test)"
fi
