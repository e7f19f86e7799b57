#!/bin/sh
# Runs the commands of docs/runoff_sim.md's "Runs that go on" as written, in a copy of the
# bundled example, and checks that the event from the spun-up basin ran.
# Usage: runs_that_go_on.sh SOURCE_DIR RUNOFF_SIM MAKE_CASE
set -eu
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/example"
ln -s "$2" "$work/bin/runoff_sim"
ln -s "$3" "$work/bin/make_case"
cp -r "$src/examples/real-basin/param-event.dat" "$src/examples/real-basin/topoData" \
    "$src/examples/real-basin/input" "$work/example/"
mkdir -p "$work/example/output/image"  # a case has both folders; make_case check asks for them
# Ten-minute sub-steps keep the test short; the commands do not depend on them.
sed -i '7s/.*/600/' "$work/example/param-event.dat"
sed -n '/<!-- runs-that-go-on -->/,/<!-- \/runs-that-go-on -->/p' "$src/docs/runoff_sim.md" \
    | sed '1,2d;$d' | sed '$d' > "$work/commands.sh"
cd "$work/example"
PATH="$work/bin:$PATH" sh -eu "$work/commands.sh" > "$work/console.txt"
grep -q "^Warm start from spun-up.bin: the initial runoff of param-event.dat is not used.$" \
    "$work/console.txt"
grep -q "fits the case" "$work/console.txt"
test -s "$work/event-end.bin"
test "$(ls states | wc -l)" -eq 2
echo "ran $(grep -c . "$work/commands.sh") lines"
