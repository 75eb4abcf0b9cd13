#!/bin/sh
# Runs the board binary FILE unmodified under the emulator (varkel-sim
# --binary) and the program built into SIM, on the same arguments in
# virtual time, and requires every output to be identical, line for line:
# the wire log, the register trace, the debug and console text and the
# summary; but for the summary's real time and its line naming the binary,
# the build stamp in the banner, and the board backend's own line on why
# /dev/mem could not be opened or mapped, which the program built into SIM
# has no cause to print.
# Usage: compare_runs.sh --binary FILE SIM [varkel-sim options]
set -eu
[ "$1" = --binary ] || { echo "usage: compare_runs.sh --binary FILE SIM [options]" >&2; exit 2; }
binary=$2 sim=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {
    out=$work/$1
    shift
    mkdir "$out"
    status=0
    "$sim" --time virtual --quiet --wire "$out/wire.txt" --trace "$out/trace.txt" \
        --debug-log "$out/debug.txt" --console-log "$out/console.txt" \
        --summary-json "$out/summary.json" "$@" 2>"$out/stderr.txt" || status=$?
    echo "$status" >"$out/status"
    grep -v -e '^  431806-52774 built ' -e '^varkel: cannot \(open\|map\) /dev/mem ' "$out/debug.txt" \
        >"$out/debug.cmp" || true
    grep -v -e '"real_ns"' -e '"binary"' "$out/summary.json" >"$out/summary.cmp"
    grep -v -e '^varkel-sim: real time' -e '^varkel-sim: binary: ' "$out/stderr.txt" >"$out/stderr.cmp"
}
start=$(date +%s.%N)
run a --binary "$binary" "$@"
middle=$(date +%s.%N)
run b "$@"
a=$binary b="the program built into $sim"
for file in status wire.txt trace.txt debug.cmp console.txt summary.cmp stderr.cmp; do
    if ! cmp -s "$work/a/$file" "$work/b/$file"; then
        echo "compare_runs: $file differs between $a and $b:" >&2
        diff "$work/a/$file" "$work/b/$file" | head -20 >&2
        exit 1
    fi
done
echo "compare_runs: identical (exit status $(cat "$work/a/status"); $(wc -l <"$work/a/wire.txt") frames," \
    "$(wc -l <"$work/a/trace.txt") trace lines); $a took $(echo "$middle - $start" | bc) s"
