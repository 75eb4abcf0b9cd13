#!/bin/sh
# A fuzz target is only as good as what it reaches: run it once on an empty
# input and once on a real capture, and require the capture to cover far
# more (a harness that hands the reader nothing covers the same either way).
# Usage: reaches_reader.sh FUZZER CAPTURE
set -eu
fuzzer=$1 capture=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/empty" "$work/real"
: >"$work/empty/input"
cp "$capture" "$work/real/"
coverage() {
    "$fuzzer" -runs=0 "$1" 2>&1 | sed -n 's/.*INITED cov: \([0-9]*\).*/\1/p'
}
empty=$(coverage "$work/empty")
real=$(coverage "$work/real")
echo "coverage: empty input $empty, $(basename "$capture") $real"
if [ -z "$empty" ] || [ -z "$real" ] || [ "$real" -lt $((3 * empty)) ]; then
    echo "the target does not reach the reader: a real capture should cover at least 3 times an empty input" >&2
    exit 1
fi
