#!/usr/bin/env bash
# Changes each register offset, field, bit and block base in the program's
# headers, then steps of its behaviour (a set-up step dropped or moved, a
# wait one read short, a release out of order...), one at a time, and runs
# the tests: every change must make at least one test fail (or the build,
# through a static_assert). Prints which tests caught each. A change marked
# with a preset is tested in that build. (The board binary's own wait one
# read short is tests/binary_mutants.sh's, in CI.) Takes about an hour; not
# part of CI.
# Usage: tests/mutate_layout.sh [PATTERN]   (only the changes whose line
# holds PATTERN, a grep pattern; works on a scratch copy in /tmp)
set -uo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d /tmp/varkel-mutate-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
git ls-files -z | xargs -0 cp --parents -t "$scratch"
cd "$scratch"
cmake --preset default -DVARKEL_BUILD_CHECK=OFF >/dev/null
cmake --build build/default >/dev/null || { echo "mutate_layout: the unchanged tree does not build" >&2; exit 2; }

# file @ text @ changed to [@ preset]; \n in a text is a line break
mutations='ssp/registers.h @ kClockEnable = 0x04 @ kClockEnable = 0x08
ssp/registers.h @ kClockEnableSsp = Bit(9) @ kClockEnableSsp = Bit(8)
ssp/registers.h @ kPinDirection64 = 0x14 @ kPinDirection64 = 0x10
ssp/registers.h @ kAltFunction80 = 0x68 @ kAltFunction80 = 0x64
ssp/registers.h @ return Bit(pin - 64) @ return Bit(pin - 63)
ssp/registers.h @ GenMask(1, 0) << (2 * (pin - 80)) @ GenMask(1, 0) << (2 * (pin - 79))
ssp/registers.h @ kSspPins[4] = {81, 82, 83, 84} @ kSspPins[4] = {82, 81, 83, 84}
ssp/registers.h @ kSspFunction = 1 @ kSspFunction = 2
ssp/registers.h @ Bit(17) | Bit(19) | Bit(20) @ Bit(17) | Bit(19) | Bit(21)
ssp/registers.h @ kSspInputBits = Bit(18) @ kSspInputBits = Bit(16)
ssp/registers.h @ kControl0 = 0x00 @ kControl0 = 0x0C
ssp/registers.h @ kControl0DataSize = GenMask(3, 0) @ kControl0DataSize = GenMask(4, 1)
ssp/registers.h @ kControl0Enable = Bit(7) @ kControl0Enable = Bit(6)
ssp/registers.h @ kControl0ClockRate = GenMask(15, 8) @ kControl0ClockRate = GenMask(16, 9)
ssp/registers.h @ kControl1 = 0x04 @ kControl1 = 0x0C
ssp/registers.h @ kStatus = 0x08 @ kStatus = 0x0C
ssp/registers.h @ kStatusTxNotFull = Bit(2) @ kStatusTxNotFull = Bit(1)
ssp/registers.h @ kStatusRxNotEmpty = Bit(3) @ kStatusRxNotEmpty = Bit(4)
ssp/registers.h @ kStatusRxOverrun = Bit(7) @ kStatusRxOverrun = Bit(6)
ssp/registers.h @ kData = 0x10 @ kData = 0x0C
hw/register_blocks.h @ kGpioBase = 0x40E00000 @ kGpioBase = 0x40F00000
hw/register_blocks.h @ kGpioBytes = 0x74 @ kGpioBytes = 0x1074
hw/register_blocks.h @ kSspBase = 0x41900000 @ kSspBase = 0x41A00000
hw/register_blocks.h @ kSspBytes = 0x14 @ kSspBytes = 0x1014
hw/register_blocks.h @ kClockBase = 0x41300000 @ kClockBase = 0x41400000
hw/register_blocks.h @ kClockBytes = 0x0C @ kClockBytes = 0x100C
ssp/ssp.h @ kPollLimit = 0x3FFFF @ kPollLimit = 0x3FFFE
platform/platform.h @ kMemReserve = 0x2000 @ kMemReserve = 0x3000
platform/platform.h @ kMemRelease = 0x8000 @ kMemRelease = 0x4000
platform/platform.h @ kPageNoAccess = 0x001 @ kPageNoAccess = 0x002
platform/platform.h @ kPageReadWrite = 0x004 @ kPageReadWrite = 0x008
platform/platform.h @ kPageNoCache = 0x200 @ kPageNoCache = 0x100
platform/platform.h @ kPagePhysical = 0x400 @ kPagePhysical = 0x800
platform/platform.h @ kPageSize = 0x1000 @ kPageSize = 0x2000
ssp/ssp.cpp @ RegWrite(SspRegPtr, ssp::kControl1, 0); @ (void)0;
ssp/ssp.cpp @ RegWrite(SspRegPtr, ssp::kControl1, 0);\n    RegUpdate(SspRegPtr, ssp::kControl0, 0, ssp::kControl0Enable); @ RegUpdate(SspRegPtr, ssp::kControl0, 0, ssp::kControl0Enable);\n    RegWrite(SspRegPtr, ssp::kControl1, 0);
ssp/ssp.cpp @ RegUpdate(v_pClkRegs, clk::kClockEnable, clk::kClockEnableSsp, 0); @ (void)0;
ssp/ssp.cpp @ (void)RegRead(GpioRegPtr, gpio::kAltFunction80); @ (void)0;
ssp/ssp.cpp @ RegWrite(SspRegPtr, ssp::kStatus, ssp::kStatusRxOverrun);\n    RegWrite(SspRegPtr, ssp::kControl1 @ RegWrite(SspRegPtr, ssp::kStatus, ssp::kStatusRxNotEmpty);\n    RegWrite(SspRegPtr, ssp::kControl1
ssp/ssp.cpp @ RegWrite(SspRegPtr, ssp::kStatus, ssp::kStatusRxOverrun);  // write-1-to-clear @ RegWrite(SspRegPtr, ssp::kStatus, ssp::kStatusRxNotEmpty);
ssp/ssp.cpp @ result = 0;\n            break; @ result = 0;
ssp/ssp.cpp @ RegRead(SspRegPtr, ssp::kData) & 0xFF) @ RegRead(SspRegPtr, ssp::kData))
hw/reg_io.h @ RegWrite(window, offset, (value & ~clear) | set); @ RegWrite(window, offset, (value & ~(clear & 0u)) | set);
app/sequence.cpp @         SleepMs(kMessageIntervalMs); @         if (i + 1 < kMessageCount) SleepMs(kMessageIntervalMs);
app/sequence.cpp @ ReleasePhysicalAddr(v_pClkRegs);\n    ReleasePhysicalAddr(SspRegPtr); @ ReleasePhysicalAddr(SspRegPtr);\n    ReleasePhysicalAddr(v_pClkRegs);
app/loopback_sequence.cpp @ SspFlushReceive(); stale > 0 @ 0; stale > 0
app/loopback_sequence.cpp @ if (received[i] == message[i]) { @ if (received[i] >= 0) {
hw/reg_io.h @ return std::uint64_t{limit} + 1; @ return std::uint64_t{limit};
platform/host/host_platform.cpp @ g_state.faults.txStuckMessages, g_state.pauses + 1) @ g_state.faults.txStuckMessages, g_state.pauses)'

missed=0
while read -r line; do
    file=${line%% @ *} rest=${line#* @ }
    from=${rest%% @ *} rest=${rest#* @ }
    to=${rest%% @ *} preset=default
    [ "$to" != "$rest" ] && preset=${rest#* @ }
    if [ ! -d "build/$preset" ]; then
        cmake --preset "$preset" -DVARKEL_BUILD_CHECK=OFF >/dev/null
        cmake --build "build/$preset" >/dev/null || { echo "mutate_layout: the unchanged tree does not build for $preset" >&2; exit 2; }
    fi
    cp "$file" "$file.orig"
    if ! python3 - "$file" "$from" "$to" <<'PY'
import sys
path, old, new = (a.replace("\\n", "\n") for a in sys.argv[1:])
text = open(path).read()
if text.count(old) != 1:
    sys.exit(1)
open(path, "w").write(text.replace(old, new))
PY
    then
        echo "ERROR   $file: '$from' is not there exactly once"
        missed=$((missed + 1))
    elif ! cmake --build "build/$preset" >/dev/null 2>&1; then
        echo "caught  $file: $from -> $to: by the build (a static_assert, or a warning made an error)"
    else
        failed=$(ctest --preset "$preset" --timeout 600 2>/dev/null | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\).*(Failed).*/\1/p' | tr '\n' ' ')
        if [ -n "$failed" ]; then
            echo "caught  $file: $from -> $to ($preset): by $failed"
        else
            echo "MISSED  $file: $from -> $to ($preset)"
            missed=$((missed + 1))
        fi
    fi
    mv "$file.orig" "$file"
    touch "$file"  # newer than what the changed copy built, so it builds again
done < <(grep -e "${1:-.}" <<<"$mutations")
echo "mutate_layout: $missed change(s) no test caught"
exit $((missed != 0))
