#!/bin/sh
# The bash completion of TOOL offers exactly the long options its --help
# gives, but for the WORDs there that are not the tool's own (the
# program's arguments that varkel-sim passes on).
# Usage: completion_test.sh TOOL COMPLETION_FILE [WORD...]
set -eu
tool=$1 completion=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" --help | grep -o -e '--[a-z][a-z-]*' | sort -u >"$work/all"
printf '%s\n' "$@" | grep -v -x -f - "$work/all" >"$work/help" || true
grep 'compgen -W "--' "$completion" | sed 's/.*compgen -W "\([^"]*\)".*/\1/' | tr ' ' '\n' |
    grep -e '^--' | sort -u >"$work/completion"
if ! cmp -s "$work/help" "$work/completion"; then
    echo "completion_test: $completion and $tool --help differ (< help, > completion):" >&2
    diff "$work/help" "$work/completion" >&2 || true
    exit 1
fi
echo "completion_test: $(wc -l <"$work/help") options, the same in both"
