#!/bin/sh
# Requires the program's functions to be the same instructions in two
# binaries: every load, store and computation byte for byte; branch and
# call targets by name and literal-pool words aside, since linking places
# them differently. Zero words after a function's last instruction are the
# linker's alignment padding, so they are left out too.
# Usage: compare_disassembly.sh OBJDUMP BINARY_A BINARY_B
set -eu
objdump=$1 a=$2 b=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

functions='ConfigureSspPort()
SspSendBuffer(unsigned char const*, int)
SspReadByte()
SspWriteByte(unsigned int)
SspSettleDelay()
MapPhysicalAddr(unsigned int, unsigned int)
ReleasePhysicalAddr(unsigned char volatile*)
PortTestMain(void*, void*, wchar_t*, int)'

extract() {
    "$objdump" -d -C --no-addresses "$1" | awk -v name="$2" '
        $0 == "<" name ">:" { inside = 1; next }
        inside && /^$/ { exit }
        inside && /^\t00000000 \t/ { padding = padding $0 "\n"; next }
        inside {
            printf "%s", padding; padding = ""
            if ($0 ~ /\.word/) { print "\t.word"; next }
            if ($0 ~ /<.*>/) { sub(/\t[0-9a-f]+ \t/, "\t"); gsub(/[0-9a-f]+ </, "<") }
            print
        }'
}

echo "$functions" | while IFS= read -r name; do
    extract "$a" "$name" >"$work/a"
    extract "$b" "$name" >"$work/b"
    if [ ! -s "$work/a" ]; then
        echo "compare_disassembly: $name is not in $a" >&2
        exit 1
    fi
    if ! cmp -s "$work/a" "$work/b"; then
        echo "compare_disassembly: $name differs:" >&2
        diff "$work/a" "$work/b" | head -20 >&2
        exit 1
    fi
    echo "compare_disassembly: $name: $(grep -c . "$work/a") instructions, identical"
done
