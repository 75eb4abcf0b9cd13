#!/bin/sh
# A register mask that cannot be (a bit past 31, reversed bounds, an empty
# field) must stop the build, with the fault's name in the error; a sound
# one must build.
# Usage: bits_refused.sh CXX SOURCE-DIR
set -eu
cxx=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

try() {  # EXPRESSION EXPECTED-NAME ("" when it must build)
    printf '#include "ssp/registers.h"\nconstexpr std::uint32_t k = %s;\nint main() { return k == 0; }\n' "$1" \
        >"$work/case.cpp"
    if "$cxx" -std=c++20 -I"$src" -fsyntax-only "$work/case.cpp" 2>"$work/err"; then
        [ -z "$2" ] || { echo "bits_refused: $1 built; it must be refused ($2)" >&2; exit 1; }
    else
        [ -n "$2" ] || { echo "bits_refused: $1 was refused:" >&2; cat "$work/err" >&2; exit 1; }
        grep -q "$2" "$work/err" || { echo "bits_refused: $1 refused, but not for $2:" >&2; cat "$work/err" >&2; exit 1; }
    fi
}

try "FieldPrep(GenMask(15, 8), 6)" ""
try "FieldGet(gpio::AltFunctionField(84), ~0u)" ""
try "Bit(32)" BitPast31
try "GenMask(32, 4)" BitPast31
try "GenMask(3, 5)" FieldBoundsReversed
try "FieldPrep(0, 1)" EmptyField
try "FieldGet(0, 1)" EmptyField
try "FieldPrep(gpio::AltFunctionField(79), 1)" EmptyField
echo "bits_refused: every unsound mask was refused"
