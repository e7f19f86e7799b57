#!/usr/bin/env bash
# The Sieg example from its bundled files alone: examples/bonn-sieg/build.sh makes the case
# and runs it, with the radar day followed by its dry hours; the outlet of river 1 must peak
# before the last hour (the wave is seen to fall), and the console must say that the dry
# hours are assumed.
#   bonn_sieg_example.sh SOURCE_DIR BUILD_DIR SCRATCH
set -euo pipefail
source_dir=$1
bin=$2
scratch=$3
rm -rf "$scratch"
# No SOURCE: the script must find its files beside itself.
env -u SOURCE HYDRO_BIN="$bin" "$source_dir/examples/bonn-sieg/build.sh" "$scratch" \
    >"$scratch.log" 2>&1 || { cat "$scratch.log"; exit 1; }
grep -q "^Assumed, not data: 72 dry hour(s) with no rain after the rainfall" "$scratch.log" ||
    { cat "$scratch.log"; echo "no line on the assumed dry hours"; exit 1; }
case_dir="$scratch/case"
days=$(sed -n 6p "$case_dir/param-event.dat" | tr -d '[:space:]')
[ "$days" = 4 ] || { echo "param-event.dat gives $days days, not 4 (24 h of radar, 72 dry)"; exit 1; }
read -r column row river _ < <("$bin/hydrograph/outlet_hydrograph" outlet "$case_dir")
[ "$river" = 1 ] || { echo "the largest river's outlet is on river $river"; exit 1; }
(cd "$case_dir/output" &&
    printf '%s\n%s\n' "$column" "$row" | "$bin/discharge_series/discharge_series" >/dev/null)
series="$case_dir/output/$column-${row}_discharge.dat"
awk 'NR == 1 || $2 + 0 > best + 0 { best = $2; at = NR }
     END { printf "peak %s m3/s in hour %d of %d\n", best, at, NR
           if (NR != 96 || at >= NR) exit 1 }' "$series"
rm -rf "$scratch" "$scratch.log"
