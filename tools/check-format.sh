#!/usr/bin/env bash
# Fails, naming the files, when any C++ source is not as clang-format
# (the project's .clang-format) would write it.
# Usage: tools/check-format.sh [clang-format]
set -euo pipefail
cd "$(dirname "$0")/.."
format=${1:-clang-format}
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h' -not -path './build/*')
unformatted=()
for file in "${files[@]}"; do
    "$format" --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if ((${#unformatted[@]} != 0)); then
    echo "check-format: ${#unformatted[@]} file(s) not formatted; run: clang-format -i ${unformatted[*]}" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files formatted"
