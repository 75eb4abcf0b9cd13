#!/usr/bin/env bash
# Whole-process figures for varkel-sim: wall time and peak memory of full
# virtual-time runs, output going to files. Builds the release preset first.
# Usage: bench/whole_process.sh [runs]   (median of `runs`, default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
command -v /usr/bin/time >/dev/null || { echo "whole_process.sh: needs /usr/bin/time (Debian package time)" >&2; exit 2; }

cmake --preset release -Wno-dev >/dev/null
cmake --build --preset release --target varkel-sim >/dev/null
sim=$PWD/build/release/varkel-sim
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {
    local name=$1; shift
    local walls=() peaks=()
    for ((i = 0; i < runs; i++)); do
        /usr/bin/time -f "%e %M" -o "$work/time" "$sim" --time virtual "$@" \
            --debug-log "$work/debug.txt" >"$work/console.txt" 2>"$work/stderr.txt"
        read -r wall peak <"$work/time"
        walls+=("$wall"); peaks+=("$peak")
    done
    local wall peak
    wall=$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    peak=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)
    printf "%-34s %8.3f s %8.1f MB\n" "$name" "$wall" "$(awk -v k="$peak" "BEGIN { print k / 1024 }")"
}

printf '%-34s %10s %11s\n' "full virtual run (median of $runs)" "wall" "peak RSS"
measure "--wire" --wire "$work/w.txt"
echo "  ($(wc -l <"$work/w.txt") frames in the wire log)"
measure "--wire --vcd" --wire "$work/w.txt" --vcd "$work/w.vcd"
echo "  ($(du -h "$work/w.vcd" | cut -f1) of VCD)"
measure "--wire --vcd --trace" --wire "$work/w.txt" --vcd "$work/w.vcd" --trace "$work/t.txt"
runs=1 measure "--fault tx-stuck (one run)" --wire "$work/w.txt" --fault tx-stuck
