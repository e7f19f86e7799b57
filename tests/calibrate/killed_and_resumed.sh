#!/bin/sh
# calibrate killed (SIGKILL) part-way through its runs, then resumed: the history is the one a
# calibration that never stopped writes. On a copy of the bundled example with 10-minute
# sub-steps, observations made by the model itself.
# Usage: killed_and_resumed.sh SOURCE_DIR RUNOFF_SIM GAUGE_SERIES CALIBRATE
set -eu
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case=$work/case
mkdir -p "$case/output/image"
cp -r "$src/examples/real-basin/param-event.dat" "$src/examples/real-basin/topoData" \
    "$src/examples/real-basin/input" "$case/"
sed -i '7s/.*/600/; 10s/.*/0.4/' "$case/param-event.dat"
cd "$case"
"$2" > /dev/null
printf 'id,lon,lat\nout1,-118.33883,34.41890\n' > gauges.csv
"$3" . gauges.csv > /dev/null
cp output/gauge_discharge.csv observed.csv
sed -i '10s/.*/0.6/' param-event.dat
set -- "$4" . gauges.csv observed.csv --vary manning-slope=0.05:0.8:log \
    --vary manning-channel=0.01:0.1:log --budget 30 --seed 3
"$@" > /dev/null 2>&1
cp output/calibration/history.csv "$work/uninterrupted.csv"
for round in 1 2; do
    "$@" > /dev/null 2>&1 &
    pid=$!
    # Killed once 5 + 8 * round rows are in (mid-row, as likely as not).
    while [ "$(wc -l < output/calibration/history.csv 2>/dev/null || echo 0)" -lt $((5 + 8 * round)) ]; do
        kill -0 "$pid" 2>/dev/null || { echo "calibrate ended before it was killed"; exit 1; }
        sleep 0.05
    done
    kill -9 "$pid"
    wait "$pid" 2>/dev/null || true
    rows=$(wc -l < output/calibration/history.csv)
    "$@" --resume > /dev/null 2>&1
    cmp output/calibration/history.csv "$work/uninterrupted.csv"
    echo "round $round: killed after $rows lines, resumed to the uninterrupted history"
done
