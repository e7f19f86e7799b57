#!/usr/bin/env bash
# rank_states.sh <runoff_sim> <case folder> <work folder> [conservative]
# States written, read and resumed under mpirun on other rank counts than the run that wrote
# them give the bytes of one whole run in one process:
#  - restart: the 2-day case cut into two 1-day events; day 1 on 2 ranks writes its end state,
#    day 2 on 3 ranks starts from it, and its grids equal the second day of the whole run;
#  - resume: a run with a state every 6 hours on 2 ranks, its grids cut back to hour 33 and its
#    states after hour 30 gone, resumed on 3 ranks, equals the whole run in grids and balance,
#    and prints what one process resuming prints;
#  - states every hour on 4 ranks equal those of one process;
#  - a frame that cannot be written in the hour of a state stops every rank as one process
#    stops.
# The case must hold 48 hourly blocks of 10 lines in input/rain.dat and 2 days on line 6 of
# param-event.dat.
set -euo pipefail
program=$1 case=$2 work=$3
args=()
[ "${4:-}" = conservative ] && args=(--scheme conservative)
rm -rf "$work"
mkdir -p "$work"

fresh() {
    cp -r "$case" "$1"
    mkdir -p "$1/output"
    find "$1/output" -maxdepth 1 -type f -delete
}
# run <folder> <ranks> <options>...: ranks 0 is one process without mpirun; the exit status
# must be $expect (0 unless set).
run() {
    local dir=$1 n=$2
    shift 2
    local status=0
    if [ "$n" = 0 ]; then
        (cd "$dir" && OMP_NUM_THREADS=1 "$program" ${args[@]+"${args[@]}"} "$@" \
            >console.txt 2>errors.txt) || status=$?
    else
        (cd "$dir" && OMP_NUM_THREADS=1 mpirun --oversubscribe --allow-run-as-root -n "$n" \
            "$program" ${args[@]+"${args[@]}"} "$@" >console.txt 2>errors.txt) || status=$?
    fi
    if [ "$status" != "${expect:-0}" ]; then
        echo "$dir on $n ranks ($*): exit status $status, expected ${expect:-0}"
        cat "$dir/console.txt" "$dir/errors.txt"
        exit 1
    fi
}
same() {
    if ! cmp "$1" "$2"; then
        echo "$3"
        exit 1
    fi
}

ref=$work/whole
fresh "$ref"
run "$ref" 0 --state-every 6 st
hourly=$(stat -c %s "$ref/output/dischargeHourly.bin")
frame=$((hourly / 48))
daily=$(stat -c %s "$ref/output/dischargeDaily.bin")
day=$((daily / 2))

# Restart across ranks: day 1 on 2 ranks, day 2 from its end state on 3.
first=$work/day1 second=$work/day2
fresh "$first"
fresh "$second"
for dir in "$first" "$second"; do
    sed -i '6s/.*/1/' "$dir/param-event.dat"
done
head -n 240 "$case/input/rain.dat" >"$first/input/rain.dat"
tail -n 240 "$case/input/rain.dat" >"$second/input/rain.dat"
run "$first" 2 --write-state s.bin
same <(head -c $((24 * frame)) "$ref/output/dischargeHourly.bin") \
    "$first/output/dischargeHourly.bin" "day 1 on 2 ranks: the hourly grid differs"
cp "$first/s.bin" "$second/s.bin"
run "$second" 3 --warm-start s.bin
same <(tail -c $((24 * frame)) "$ref/output/dischargeHourly.bin") \
    "$second/output/dischargeHourly.bin" "day 2 on 3 ranks from the state: the hourly grid differs"
same <(tail -c "$day" "$ref/output/dischargeDaily.bin") "$second/output/dischargeDaily.bin" \
    "day 2 on 3 ranks from the state: the daily grid differs"
same <(tail -c "$day" "$ref/output/dischargeHourlyMaxInDay.bin") \
    "$second/output/dischargeHourlyMaxInDay.bin" \
    "day 2 on 3 ranks from the state: the daily maxima differ"

# Resume across ranks: states every 6 hours on 2 ranks, cut back, resumed on 3.
resumed=$work/resumed
fresh "$resumed"
run "$resumed" 2 --state-every 6 st2
for f in "$ref"/st/*; do
    same "$f" "$resumed/st2/$(basename "$f")" "the state $(basename "$f") on 2 ranks differs"
done
truncate -s $((33 * frame + 1000)) "$resumed/output/dischargeHourly.bin"
truncate -s "$day" "$resumed/output/dischargeDaily.bin"
truncate -s "$day" "$resumed/output/dischargeHourlyMaxInDay.bin"
rm -f "$resumed/output/water_balance.csv"
later=$(cd "$resumed/st2" && ls | sort | tail -n +6)
[ -n "$later" ] || { echo "no states after hour 30 to delete"; exit 1; }
(cd "$resumed/st2" && rm -f $later)
alone=$work/resumed-alone
cp -r "$resumed" "$alone"
run "$alone" 0 --resume st2
run "$resumed" 3 --resume st2
grep -q "Resuming from" "$resumed/console.txt" || {
    echo "the run on 3 ranks did not resume"
    cat "$resumed/console.txt"
    exit 1
}
# The progress lines of the hours already run are counted once.
same "$alone/console.txt" "$resumed/console.txt" \
    "resumed on 3 ranks: the console text differs from one process"
for grid in dischargeDaily.bin dischargeHourlyMaxInDay.bin dischargeHourly.bin \
    water_balance.csv; do
    same "$ref/output/$grid" "$resumed/output/$grid" "resumed on 3 ranks: $grid differs"
done
# A state every hour, more of them in the making at once than the levels of 4 ranks, the
# newest 30 kept, and a final state: the files of one process.
for n in 0 4; do
    fresh "$work/hourly$n"
    run "$work/hourly$n" "$n" --state-every 1 st --keep-states 30 --write-state end.bin
done
if ! diff -r -x errors.txt "$work/hourly0" "$work/hourly4" >/dev/null; then
    echo "states every hour on 4 ranks differ from one process:"
    diff -rq -x errors.txt "$work/hourly0" "$work/hourly4" || true
    exit 1
fi

# A frame that cannot be written in the hour of a state: the run stops on every rank before
# the state, as in one process.
for n in 0 3; do
    dir=$work/nowrite$n
    fresh "$dir"
    ln -s /dev/full "$dir/output/dischargeHourly.bin"
    expect=1 run "$dir" "$n" --state-every 1 st
    if [ -n "$(ls -A "$dir/st")" ]; then
        echo "a state was written after a frame could not be: $(ls "$dir/st")"
        exit 1
    fi
done
same "$work/nowrite0/console.txt" "$work/nowrite3/console.txt" \
    "a frame not written on 3 ranks: the console text differs from one process"
echo "states, restarts and resumed runs on 1 to 4 ranks give the bytes of one process"
