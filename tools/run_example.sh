#!/usr/bin/env bash
# Builds the release preset and runs runoff_sim on the bundled example basin in a scratch copy
# (build/example-run), then checks the console text and the three grids against the recorded
# results. Extra arguments are ignored; OMP_NUM_THREADS chooses the thread count.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset release -DHYDRO_BUILD_TESTS=OFF >/dev/null
cmake --build --preset release --target runoff_sim >/dev/null
run="$root/build/example-run"
rm -rf "$run"
cp -r examples/real-basin "$run"
cd "$run"
/usr/bin/time -f "wall %e s, peak memory %M KiB" "$root/build/release/runoff_sim/runoff_sim" | tee console.txt
if cmp -s console.txt expected/console.txt; then
    echo "console text: as recorded"
else
    echo "console text differs from expected/console.txt" >&2
    exit 1
fi
(cd output && sha256sum -c ../expected/outputs.sha256)
echo "outputs in $run/output"
