#!/usr/bin/env bash
# End-to-end benchmark of runoff_sim: runs each case with one thread and with all cores and
# prints wall time, node updates per second, peak resident memory and the speed-up, and checks
# the outputs against the case's recorded SHA-256.
#
#   bench/run_basin.sh [case folder ...]
#   SCHEME=conservative bench/run_basin.sh ...   (the same with runoff_sim --scheme conservative;
#                                                 the recorded SHA-256 are the linear scheme's)
#   THREADS="2" bench/run_basin.sh ...           (only these thread counts)
#   RUNOFF_SIM_ARGS="--state-every 1 states" bench/run_basin.sh ...
#                                                (further options of runoff_sim)
#
# Default cases: the bundled example basin and, when present beside the project, the
# full-resolution one (../shared/data/real-basin-large). Builds the release preset first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset release -DHYDRO_BUILD_TESTS=OFF >/dev/null
cmake --build --preset release --target runoff_sim >/dev/null
sim="$root/build/release/runoff_sim/runoff_sim"

cases=("$@")
if [ ${#cases[@]} -eq 0 ]; then
    cases=("$root/examples/real-basin")
    [ -d "$root/../shared/data/real-basin-large" ] && cases+=("$root/../shared/data/real-basin-large")
fi
cores=$(nproc)
scheme=${SCHEME:-linear}
threads_list=${THREADS:-"1 $cores"}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Node updates of a run: routed cells x days x 24 x sub-steps per hour x space steps.
node_updates() {
    python3 - "$1" <<'PY'
import array, sys, os
d = sys.argv[1]
p = open(os.path.join(d, "param-event.dat")).read().split()
cols, rows, days, step, space = int(p[0]), int(p[1]), int(p[10]), int(p[11]), int(p[12])
def grid(name):
    a = array.array("i")
    with open(os.path.join(d, "topoData", name), "rb") as f:
        a.frombytes(f.read(rows * cols * 4))
    return a
acc, riv = grid("flowAcc.bin"), grid("riverNum.bin")
listed = set()
for line in open(os.path.join(d, "topoData", "riverNumList.dat")):
    t = line.split()
    if len(t) >= 8 and int(t[0]) >= 0:
        listed.add(int(t[0]))
routed = 0
for k in range(rows * cols):
    r, c = k // cols, k % cols
    if 0 < r < rows - 1 and 0 < c < cols - 1 and acc[k] > 0 and riv[k] in listed:
        routed += 1
print(routed * days * 24 * (3600 // step) * space)
PY
}

printf '%-18s %7s %10s %14s %12s %9s\n' case threads wall_s node_upd/s peak_MiB speed-up
for case in "${cases[@]}"; do
    case=$(cd "$case" && pwd)
    name=$(basename "$case")
    updates=$(node_updates "$case")
    one=""
    for threads in $threads_list; do
        work="$scratch/$name-$threads"
        rm -rf "$work"
        cp -r "$case" "$work"
        chmod -R u+w "$work"
        (cd "$work" && OMP_NUM_THREADS=$threads /usr/bin/time -f "%e %M" -o time.txt "$sim" --scheme "$scheme" ${RUNOFF_SIM_ARGS:-} >console.txt)
        read -r wall kib <"$work/time.txt"
        if [ "$scheme" = linear ] && [ -f "$case/expected/outputs.sha256" ]; then
            (cd "$work/output" && sha256sum --quiet -c "$case/expected/outputs.sha256") \
                || { echo "$name: outputs differ from the recorded SHA-256" >&2; exit 1; }
        fi
        [ -z "$one" ] && one=$wall
        awk -v n="$name" -v t="$threads" -v w="$wall" -v u="$updates" -v k="$kib" -v o="$one" \
            'BEGIN { printf "%-18s %7s %10.2f %14.3e %12.1f %9.2f\n", n, t, w, u / w, k / 1024, o / w }'
        [ -f "$work/output/water_balance.csv" ] && grep ',all,' "$work/output/water_balance.csv"
        rm -rf "$work"
    done
done
