#!/usr/bin/env bash
# compare_ranks.sh <runoff_sim> <case folder> <work folder> <expected exit> <ranks>...
# Runs the simulator under mpirun on each rank count in a fresh copy of the case and checks
# that the exit status, the console text and the three grids equal those of the first count.
# A count is N (N ranks of one thread each) or NxT (N ranks of T threads).
# A case folder ending in :nowrite gets /dev/full in place of the hourly grid, one ending in
# :nooutput loses its output/ folder, one ending in :norain loses its rainfall file, and one
# ending in :nonfinite runs the explicit scheme (weight 0) with one-hour steps over 40 space
# steps, which turns discharges into values that are not numbers; one ending in :conservative
# runs the conservative scheme. The water balance is compared as well.
set -euo pipefail
program=$1 case=$2 work=$3 expected=$4
shift 4
variant=${case##*:}
[ "$variant" = "$case" ] && variant=
case=${case%%:*}
rm -rf "$work"
mkdir -p "$work"
first=
args=()
[ "$variant" = conservative ] && args=(--scheme conservative)
for count in "$@"; do
    n=${count%%x*}
    threads=1
    [ "$count" != "$n" ] && threads=${count##*x}
    dir="$work/n$count"
    cp -r "$case" "$dir"
    mkdir -p "$dir/output"
    find "$dir/output" -maxdepth 1 -type f -delete
    case "$variant" in
        nowrite) ln -s /dev/full "$dir/output/dischargeHourly.bin" ;;
        nooutput) rm -rf "$dir/output" ;;
        norain) rm -f "$dir"/input/* ;;
        nonfinite) sed -i '7s/.*/3600/; 8s/.*/40/; 9s/.*/0/' "$dir/param-event.dat" ;;
    esac
    status=0
    (cd "$dir" && OMP_NUM_THREADS=$threads mpirun --oversubscribe --allow-run-as-root -n "$n" "$program" \
        ${args[@]+"${args[@]}"} >console.txt 2>errors.txt) || status=$?
    if [ "$status" != "$expected" ]; then
        echo "$count ranks: exit status $status, expected $expected"
        cat "$dir/console.txt" "$dir/errors.txt"
        exit 1
    fi
    if [ -z "$first" ]; then
        first=$dir
        continue
    fi
    if ! cmp -s "$first/console.txt" "$dir/console.txt"; then
        echo "$count ranks: the console text differs"
        diff "$first/console.txt" "$dir/console.txt" || true
        exit 1
    fi
    for grid in dischargeDaily.bin dischargeHourlyMaxInDay.bin dischargeHourly.bin \
        water_balance.csv; do
        if [ -f "$first/output/$grid" ] && [ ! -L "$first/output/$grid" ] \
            && ! cmp -s "$first/output/$grid" "$dir/output/$grid"; then
            echo "$count ranks: $grid differs"
            exit 1
        fi
    done
done
echo "same exit status, console text, grids and water balance on $* ranks"
