#!/usr/bin/env bash
# tools/fuzz.sh [seconds-per-target] [target...]
#
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs each fuzz target for the given time (60 s by default) on a scratch copy of its corpus
# in fuzz/corpus/<target>/; with no target named, every target that has a corpus. libFuzzer
# first runs every input of the corpus, so the checked-in inputs (crashes found before among
# them) are replayed before any new input is tried. Fails on any crash, sanitizer report,
# leak, time-out or failed check; the inputs that caused one are kept in build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: tools/fuzz.sh [seconds-per-target] [target...]" >&2
    exit 2
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for dir in fuzz/corpus/*/; do
        targets+=("$(basename "$dir")")
    done
fi
for target in "${targets[@]}"; do
    if [ ! -d "fuzz/corpus/$target" ]; then
        echo "No fuzz target $target (no folder fuzz/corpus/$target)." >&2
        exit 2
    fi
done

echo "== building the fuzz preset" >&2
cmake --preset fuzz -DHYDRO_WERROR=ON >/dev/null
cmake --build --preset fuzz >/dev/null

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
crashes=build/fuzz/crashes
failed=()
for target in "${targets[@]}"; do
    work="$scratch/$target"
    mkdir -p "$work/corpus" "$work/artifacts"
    cp "fuzz/corpus/$target"/* "$work/corpus/"
    seeds=$(find "$work/corpus" -type f | wc -l)
    echo "== $target: $seconds s from $seeds inputs" >&2
    status=0
    "build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" \
        >"$work/log" 2>&1 || status=$?
    if [ "$status" -ne 0 ] \
        || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|fuzz check failed' \
            "$work/log"; then
        failed+=("$target")
        mkdir -p "$crashes/$target"
        cp "$work/artifacts"/* "$crashes/$target/" 2>/dev/null || true
        echo "$target FAILED (exit status $status); the end of its log:" >&2
        tail -n 40 "$work/log" >&2
        echo "Inputs that failed: $crashes/$target/" >&2
        continue
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
    found=$(( $(find "$work/corpus" -type f | wc -l) - seeds ))
    echo "$target: ${runs:-?} inputs in $seconds s, no failure; $found new inputs in the scratch corpus" >&2
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing failed: ${failed[*]}" >&2
    exit 1
fi
echo "Fuzzing: ${#targets[@]} targets, $seconds s each, no failure."
