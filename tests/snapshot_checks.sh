#!/bin/sh
# Saves every output of varkel-check on every real capture in
# tests/captures/ (named as their README's table names their pins) and on
# the simulated board's own dumps, with --wire and --json, into DIR, one
# folder a capture: with snapshot_runs.sh, the set that shows a change of
# structure changes no output (snapshot before, snapshot after, `diff -r`).
# Usage: snapshot_checks.sh CHECK SIM DIR
set -eu
check=$(realpath "$1") sim=$(realpath "$2") dir=$3
source=$(cd "$(dirname "$0")/.." && pwd)
[ ! -e "$dir" ] || { echo "snapshot_checks: $dir exists" >&2; exit 2; }
mkdir -p "$dir"
dir=$(realpath "$dir")

check() {
    out=$dir/$1 capture=$2
    shift 2
    mkdir "$out"
    status=0
    (cd "$(dirname "$capture")" && "$check" --wire "$out/frames.txt" --json "$out/verdict.json" "$@" \
        "$(basename "$capture")" >"$out/stdout.txt" 2>"$out/stderr.txt") || status=$?
    echo "$status" >"$out/status"
}

# The real captures, as the table in tests/captures/README.md names them.
grep '^| spi/' "$source/tests/captures/README.md" | while IFS='|' read -r _ file clock select data _ _ active _; do
    file=$(echo $file) clock=$(echo $clock) select=$(echo $select) data=$(echo $data) active=$(echo $active)
    name=$(echo "$file" | tr / _)
    check "$name" "$source/tests/captures/$file" --sclk "$clock" --sfrm "$select" --txd "$data" \
        --select-active "$active"
done

# The simulated board's own dumps: plain, and with faults that show.
boards=$(mktemp -d)
trap 'rm -rf "$boards"' EXIT
for run in plain:"" slow:"--fault tx-slow:3" stuck:"--fault tx-stuck:2"; do
    name=${run%%:*} options=${run#*:}
    # shellcheck disable=SC2086 # options are words
    "$sim" --time virtual --quiet --vcd "$boards/$name.vcd" --vcd-window 0:3.5 $options 2>/dev/null || true
    check "board-$name" "$boards/$name.vcd"
    check "board-$name-port" "$boards/$name.vcd" --port-clock-hz 1e7 --clock-rate 6 --bits 8
done
echo "snapshot_checks: $(ls "$dir" | wc -l) checks saved in $dir"
