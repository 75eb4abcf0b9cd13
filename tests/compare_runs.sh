#!/bin/sh
# Runs two varkel-sim builds on the same arguments in virtual time and
# requires every output to be identical, line for line: the wire log, the
# register trace, the debug and console text and the summary (but for its
# real time, and the build stamp in the banner).
# Usage: compare_runs.sh "EMULATOR" SIM_A SIM_B [varkel-sim options]
set -eu
emulator=$1 a=$2 b=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {
    out=$work/$1 sim=$2
    shift 2
    mkdir "$out"
    status=0
    # shellcheck disable=SC2086 # the emulator is a command with its options
    $emulator "$sim" --time virtual --quiet --wire "$out/wire.txt" --trace "$out/trace.txt" \
        --debug-log "$out/debug.txt" --console-log "$out/console.txt" \
        --summary-json "$out/summary.json" "$@" 2>"$out/stderr.txt" || status=$?
    echo "$status" >"$out/status"
    grep -v '^  431806-52774 built ' "$out/debug.txt" >"$out/debug.cmp" || true
    grep -v '"real_ns"' "$out/summary.json" >"$out/summary.cmp"
    grep -v '^varkel-sim: real time' "$out/stderr.txt" >"$out/stderr.cmp"
}
start=$(date +%s.%N)
run a "$a" "$@"
middle=$(date +%s.%N)
run b "$b" "$@"
for file in status wire.txt trace.txt debug.cmp console.txt summary.cmp stderr.cmp; do
    if ! cmp -s "$work/a/$file" "$work/b/$file"; then
        echo "compare_runs: $file differs between $a and $b:" >&2
        diff "$work/a/$file" "$work/b/$file" | head -20 >&2
        exit 1
    fi
done
echo "compare_runs: identical (exit status $(cat "$work/a/status"); $(wc -l <"$work/a/wire.txt") frames," \
    "$(wc -l <"$work/a/trace.txt") trace lines); $a took $(echo "$middle - $start" | bc) s"
