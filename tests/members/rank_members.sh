#!/usr/bin/env bash
# rank_members.sh <calibrate> <ensemble> <case folder> <work folder> <what>
# Members spread over MPI ranks give the files of one process, and a failure on one rank ends
# every rank with the line of one process. <what> is one of:
#  - lhs, dds: a calibration of 8 runs on 1 rank, 2 ranks and (LHS) 2 ranks of 2 threads, DDS
#    in batches of 2: the same console text and the same files, byte for byte;
#  - ensemble: 3 members with cell peaks on 1 rank, 2 ranks and 2 ranks of 2 threads: the same
#    console text, tables and charts, and the same NetCDF files but for their creation time;
#  - refusals: files that only rank 0 writes cannot be written, and an input is missing: one
#    line and exit status 1, on 2 ranks as on 1.
# The case is cut to its first day (its rain.dat must hold hourly blocks of 10 lines).
set -euo pipefail
calibrate=$1 ensemble=$2 case=$3 work=$4 what=$5
rm -rf "$work"
mkdir -p "$work"

base=$work/base
cp -r "$case" "$base"
rm -rf "$base/output"
mkdir -p "$base/output"
sed -i '6s/.*/1/' "$base/param-event.dat"
head -n 240 "$case/input/rain.dat" >"$base/input/rain.dat"
printf 'id,lon,lat,area_km2,threshold_m3s\noutlet,-118.3305,34.4189,,50\nupper,-117.9,34.6,100,\n' \
    >"$base/gauges.csv"
# Observations at both gauges, some hours of the upper one missing.
awk 'BEGIN {
    print "time,outlet,upper"
    for (h = 1; h <= 24; h++)
        printf "2000-01-%02dT%02d:00:00Z,%g,%s\n", 1 + int(h / 24), h % 24, 20 + 3 * h,
            h % 3 ? 0.5 * h : ""
}' >"$base/observed.csv"
printf 'member,manning-slope,initial-runoff,rain-factor\na,0.3,0,1\nb,,0.2,1.5\nc,0.7,0.05,0.6\n' \
    >"$base/sets.csv"

# run <label> <ranks> <program> <options>...: ranks NxT is N ranks of T threads each; the exit
# status must be $expect (0 unless set); $prepare, if set, is called with the fresh folder.
run() {
    local label=$1 count=$2 program=$3
    shift 3
    local n=${count%%x*} threads=1 status=0
    [ "$count" != "$n" ] && threads=${count##*x}
    local dir=$work/$label
    rm -rf "$dir"
    cp -r "$base" "$dir"
    ${prepare:-true} "$dir"
    (cd "$dir" && OMP_NUM_THREADS=$threads mpirun --oversubscribe --allow-run-as-root -n "$n" \
        "$program" "$@" >console.txt 2>errors.txt) || status=$?
    if [ "$status" != "${expect:-0}" ]; then
        echo "$label on $count ranks ($*): exit status $status, expected ${expect:-0}"
        cat "$dir/console.txt" "$dir/errors.txt"
        exit 1
    fi
}
same() {
    if ! cmp "$1" "$2"; then
        echo "$3"
        diff "$1" "$2" | head -20 || true
        exit 1
    fi
}
# NetCDF files differ by the time they were made (their history attribute) alone.
same_netcdf() {
    same <(ncdump "$1" | grep -v ':history = ') <(ncdump "$2" | grep -v ':history = ') "$3"
}

# calibration <algorithm> <rank counts> <options>...
calibration() {
    local algorithm=$1 counts=$2
    shift 2
    local first=
    for count in $counts; do
        run "$algorithm$count" "$count" "$calibrate" . gauges.csv observed.csv \
            --vary manning-slope=0.2:0.8 --vary rain-factor=0.5:2:log --budget 8 --seed 7 \
            --algorithm "$algorithm" "$@"
        local dir=$work/$algorithm$count
        [ "$(wc -l <"$dir/output/calibration/history.csv")" = 9 ] || {
            echo "$algorithm on $count ranks: history.csv holds no 8 runs"
            exit 1
        }
        if [ -z "$first" ]; then
            first=$dir
            continue
        fi
        same "$first/console.txt" "$dir/console.txt" \
            "$algorithm on $count ranks: the console text differs from 1 rank"
        for f in "$first"/output/calibration/*; do
            same "$f" "$dir/output/calibration/$(basename "$f")" \
                "$algorithm on $count ranks: $(basename "$f") differs from 1 rank"
        done
    done
}

ensembles() {
    local first=
    for count in 1 2 2x2; do
        run "ensemble$count" "$count" "$ensemble" . --params sets.csv --exceedance 5
        local dir=$work/ensemble$count
        if [ -z "$first" ]; then
            first=$dir
            continue
        fi
        same "$first/console.txt" "$dir/console.txt" \
            "ensemble on $count ranks: the console text differs from 1 rank"
        for f in "$first"/output/ensemble/*; do
            local name
            name=$(basename "$f")
            if [ "${name%.nc}" != "$name" ]; then
                same_netcdf "$f" "$dir/output/ensemble/$name" \
                    "ensemble on $count ranks: $name differs from 1 rank"
            else
                same "$f" "$dir/output/ensemble/$name" \
                    "ensemble on $count ranks: $name differs from 1 rank"
            fi
        done
    done
    grep -q '^c ' "$first/console.txt" || {
        echo "the ensemble did not list its members"
        cat "$first/console.txt"
        exit 1
    }
}

# refused <label> <program> <options>...: one line and exit status 1, on 2 ranks as on 1.
refused() {
    local label=$1
    shift
    expect=1 run "${label}1" 1 "$@"
    expect=1 run "${label}2" 2 "$@"
    same "$work/${label}1/console.txt" "$work/${label}2/console.txt" \
        "$label: the line on 2 ranks differs from 1 rank"
    [ "$(wc -l <"$work/${label}2/console.txt")" = 1 ] || {
        echo "$label: not one line"
        cat "$work/${label}2/console.txt"
        exit 1
    }
}
# Rank 0 alone writes: a file in place of its output folder stops both ranks.
block_calibration() { touch "$1/output/calibration"; }
block_ensemble() { touch "$1/output/ensemble"; }
refusals() {
    prepare=block_calibration refused nohistory "$calibrate" . gauges.csv observed.csv \
        --vary manning-slope=0.2:0.8 --budget 2
    grep -q 'history.csv' "$work/nohistory2/console.txt" || {
        echo "nohistory: the line does not name history.csv"
        exit 1
    }
    prepare=block_ensemble refused noensemble "$ensemble" . --params sets.csv
    refused noobserved "$calibrate" . gauges.csv missing.csv --vary manning-slope=0.2:0.8
}

case "$what" in
    lhs) calibration lhs "1 2 2x2" ;;
    dds) calibration dds "1 2" --batch 2 ;;
    ensemble) ensembles ;;
    refusals) refusals ;;
    *)
        echo "unknown test $what"
        exit 1
        ;;
esac
echo "$what: 1 and 2 ranks give the same files"
