#!/bin/sh
# Saves every output of a fixed set of varkel-sim runs in virtual time into
# DIR, one folder a run, so that a change of structure can be shown to
# change no output: snapshot before, snapshot after, `diff -r`. The summary's
# real time, the stderr line that says it and the banner's build stamp are
# left out, and the save file's folder; everything else is kept byte for
# byte.
# Usage: snapshot_runs.sh "EMULATOR" SIM DIR [RUN-NAME...]
#   EMULATOR: "" on the host, or "qemu-arm -L /usr/arm-linux-gnueabi"
#   RUN-NAMEs: a subset of the runs below (default all)
set -eu
emulator=$1 sim=$(realpath "$2") dir=$3
shift 3
[ ! -e "$dir" ] || { echo "snapshot_runs: $dir exists" >&2; exit 2; }
mkdir -p "$dir"
dir=$(realpath "$dir")
wanted=" $* "

run() {
    name=$1
    shift
    if [ "$wanted" != "  " ] && ! echo "$wanted" | grep -q " $name "; then
        return
    fi
    out=$dir/$name
    mkdir "$out"
    cd "$out"  # every output named relative to it, so that none names the folder
    status=0
    # shellcheck disable=SC2086 # the emulator is a command with its options
    $emulator "$sim" --time virtual --quiet --wire wire.txt --trace trace.txt --debug-log debug.raw \
        --console-log console.txt --summary-json summary.raw "$@" 2>stderr.raw || status=$?
    echo "$status" >"$out/status"
    grep -v ' built ' "$out/debug.raw" >"$out/debug.txt" || true
    grep -v '"real_ns"' "$out/summary.raw" >"$out/summary.json" || true
    grep -v '^varkel-sim: real time' "$out/stderr.raw" >"$out/stderr.txt" || true
    rm -f "$out/debug.raw" "$out/summary.raw" "$out/stderr.raw"
    if [ -e window.gtkw ]; then  # it names the dump by its absolute path
        sed 's|^\[dumpfile\] ".*/|[dumpfile] "|' window.gtkw >window.cmp && mv window.cmp window.gtkw
    fi
}

run plain
for fault in reserve:1 reserve:2 reserve:3 bind:1 bind:2 bind:3 tx-stuck tx-stuck:2 clock-off tx-slow:3 \
    pins-unrouted; do
    run "fault-$(echo "$fault" | tr : -)" --fault "$fault"
done
run two-faults --fault tx-slow:2 --fault tx-stuck:3
run rxd-high --rxd high
run rxd-low --rxd low
run rxd-loopback --rxd loopback
run vcd-window --vcd window.vcd --vcd-window 0:2.5
run loopback-pass --rxd loopback -- --loopback-test 10
run loopback-idle-line -- --loopback-test 10
run loopback-stuck-low --rxd low -- --loopback-test 3
run loopback-unrouted --rxd loopback --fault pins-unrouted -- --loopback-test 2
run loopback-tx-stuck --rxd loopback --fault tx-stuck -- --loopback-test 2
run bad-argument -- --bogus
echo "snapshot_runs: $(ls "$dir" | wc -l) runs saved in $dir"
