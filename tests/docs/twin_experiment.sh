#!/bin/sh
# Runs the twin experiment of docs/calibration.md as written, in a copy of the bundled example
# with 10-minute sub-steps and 2 % noise of a fixed seed on the observations, and checks what
# the page says: DDS finds the Manning values again, and the channels' roughness sets the
# timing of the outlet's peak.
# Usage: twin_experiment.sh SOURCE_DIR RUNOFF_SIM MAKE_CASE GAUGE_SERIES CALIBRATE
set -eu
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/example"
ln -s "$2" "$work/bin/runoff_sim"
ln -s "$3" "$work/bin/make_case"
ln -s "$4" "$work/bin/gauge_series"
ln -s "$5" "$work/bin/calibrate"
cp -r "$src/examples/real-basin/param-event.dat" "$src/examples/real-basin/topoData" \
    "$src/examples/real-basin/input" "$work/example/"
mkdir -p "$work/example/output/image"
sed -i '7s/.*/600/' "$work/example/param-event.dat"
sed -n '/<!-- twin-experiment -->/,/<!-- \/twin-experiment -->/p' "$src/docs/calibration.md" \
    | sed '1d;$d' > "$work/commands.sh"
# The noise goes on the observations as soon as they exist.
sed -i '/^ *cp output\/gauge_discharge.csv observed.csv/a python3 "$NOISE" observed.csv' \
    "$work/commands.sh"
cat > "$work/noise.py" <<'PY'
import random, sys
rows = open(sys.argv[1]).read().splitlines()
noise = random.Random(2024)
out = [rows[0]]
for row in rows[1:]:
    cells = row.split(",")
    out.append(",".join([cells[0]] + [repr(max(0.0, float(v) * (1 + 0.02 * noise.gauss(0, 1)))) for v in cells[1:]]))
open(sys.argv[1], "w").write("\n".join(out) + "\n")
PY
cd "$work/example"
NOISE="$work/noise.py" PATH="$work/bin:$PATH" sh -eu "$work/commands.sh" > "$work/console.txt" 2>/dev/null
python3 - <<'PY'
import csv
rows = list(csv.DictReader(open("output/calibration/history.csv")))
assert len(rows) == 24, len(rows)  # the Latin hypercube ran last
sens = {r["parameter"]: abs(float(r["rho_peak_timing_out1"]))
        for r in csv.DictReader(open("output/calibration/sensitivity.csv"))}
assert max(sens, key=sens.get) == "manning-channel", sens
print("sensitivity of out1's peak timing:", sens)
PY
# The DDS search's best run, from its console.
grep -q "^Best run [0-9]*: KGE 0\.9[89][0-9]\|^Best run [0-9]*: KGE 1\.000" "$work/console.txt" || {
    cat "$work/console.txt"; exit 1; }
slope=$(grep -m1 "^  manning-slope " "$work/console.txt" | awk '{print $2}')
channel=$(grep -m1 "^  manning-channel " "$work/console.txt" | awk '{print $2}')
python3 -c "
s, c = $slope, $channel
assert abs(s - 0.4) <= 0.06 and abs(c - 0.05) <= 0.0075, (s, c)
print('recovered manning-slope', s, 'manning-channel', c)"
