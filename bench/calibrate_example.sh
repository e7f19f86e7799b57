#!/usr/bin/env bash
# End-to-end benchmark of calibrate on the bundled example basin (its own observations: the
# outlets' series of a run with other Manning values), beside a full runoff_sim run:
#   - the cost of one member against a whole runoff_sim run, at 1 and at all threads;
#   - the member throughput of a Latin hypercube at 1 thread and at all cores;
#   - the wall time of 200 DDS runs (the published algorithm, one member at a time).
# Best of three for the short figures; run it on an idle machine.
#
#   bench/calibrate_example.sh [budget of the member figures, default 24]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset release -DHYDRO_BUILD_TESTS=OFF >/dev/null
cmake --build --preset release --target runoff_sim calibrate gauge_series >/dev/null
bin="$root/build/release"
budget=${1:-24}
cores=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r examples/real-basin "$work/case"
mkdir -p "$work/case/output/image"
cd "$work/case"

# Observations: the two outlets under Manning 0.4 (slopes) and 0.05 (channels).
cp param-event.dat param-event.orig
sed -i '10s/.*/0.4/; 11s/.*/0.05/' param-event.dat
"$bin/runoff_sim/runoff_sim" >/dev/null
printf 'id,lon,lat\nout1,-118.33883,34.41890\nout2,-116.68883,34.27723\n' > gauges.csv
"$bin/gauge_series/gauge_series" . gauges.csv >/dev/null
cp output/gauge_discharge.csv observed.csv
cp param-event.orig param-event.dat

best_of_three() {  # prints the least wall seconds of three runs of "$@"
    local best=""
    for _ in 1 2 3; do
        local t0 t1
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s.%N)
        best=$(python3 -c "a='$best'; t=$t1-$t0; print(t if not a else min(float(a), t))")
    done
    echo "$best"
}
vary=(--vary manning-slope=0.05:0.8:log --vary manning-channel=0.01:0.1:log)
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $cores cores"
for threads in 1 "$cores"; do
    sim=$(OMP_NUM_THREADS=$threads best_of_three "$bin/runoff_sim/runoff_sim")
    one=$(OMP_NUM_THREADS=$threads best_of_three "$bin/calibrate/calibrate" . gauges.csv \
        observed.csv "${vary[@]}" --budget 1 --member-threads 1)
    many=$(OMP_NUM_THREADS=$threads best_of_three "$bin/calibrate/calibrate" . gauges.csv \
        observed.csv "${vary[@]}" --algorithm lhs --budget "$budget")
    python3 - "$threads" "$sim" "$one" "$many" "$budget" <<'PY'
import sys
threads, sim, one, many, budget = sys.argv[1], *map(float, sys.argv[2:5]), int(sys.argv[5])
# A calibration of budget 1 runs its member twice (the run and the best run's series).
member = one / 2
print(f"{threads} thread(s): runoff_sim {sim:.2f} s; one member {member:.2f} s "
      f"({100 * member / sim:.0f} % of runoff_sim); Latin hypercube of {budget}: {many:.2f} s, "
      f"{budget / many:.2f} members/s")
PY
done
t0=$(date +%s.%N)
"$bin/calibrate/calibrate" . gauges.csv observed.csv "${vary[@]}" --budget 200 > dds.txt 2>/dev/null
t1=$(date +%s.%N)
python3 -c "print(f'200 DDS runs, {$cores} threads: {$t1 - $t0:.1f} s')"
grep "^Best run" dds.txt
