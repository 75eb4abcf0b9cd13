#!/usr/bin/env bash
# Builds the board binary from a copy of the sources with a deliberate
# fault, one at a time, and requires the comparison with the program built
# into varkel-sim (varkel-sim --compare) to catch it: a wait one read short,
# a set-up step dropped, a backend line in a run that succeeded, /dev/mem
# opened read-only, a private mapping, a read-only mapping, a window never
# given back, a window of the wrong size. The copy unchanged must compare identical first, so that what
# is caught is the fault and nothing else.
# Usage: binary_mutants.sh SOURCE_DIR SIM
set -euo pipefail
src=$1 sim=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
git -C "$src" ls-files -z | (cd "$src" && xargs -0 cp --parents -t "$scratch")

build() {
    cmake --build "$scratch/build" --target varkel >/dev/null
}
cmake -S "$scratch" -B "$scratch/build" -G Ninja --toolchain "$scratch/cmake/armel-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVARKEL_STATIC=ON -DVARKEL_BUILD_SIM=OFF -DVARKEL_BUILD_CHECK=OFF \
    -DVARKEL_BUILD_TESTS=OFF >/dev/null
build
binary=$scratch/build/varkel

# file @ text @ replacement @ the comparison that must catch it
mutations='hw/reg_io.h @ counter = limit;; @ counter = limit - 1;; @ --fault tx-stuck:2
ssp/ssp.cpp @ RegWrite(SspRegPtr, ssp::kControl1, 0); @ (void)0; @ --rxd loopback -- --loopback-test 1
platform/devmem/devmem_platform.cpp @ ::close(fd); @ ::close(fd); platform::devmem::Complain("map", physical, EPERM); @ --rxd loopback -- --loopback-test 1
platform/devmem/devmem_platform.cpp @ O_RDWR | O_SYNC | O_CLOEXEC @ O_RDONLY | O_SYNC | O_CLOEXEC @ --rxd loopback -- --loopback-test 1
platform/devmem/devmem_platform.cpp @ MAP_SHARED | MAP_FIXED, fd @ MAP_PRIVATE | MAP_FIXED, fd @ --rxd loopback -- --loopback-test 1
platform/devmem/devmem_platform.cpp @ PROT_READ | PROT_WRITE, MAP_SHARED @ PROT_READ, MAP_SHARED @ --rxd loopback -- --loopback-test 1
hw/map_physical.cpp @ ReleaseRegion(reinterpret_cast<void*>(pageBase), 0, kMemRelease); @ (void)pageBase; @ --rxd loopback -- --loopback-test 1
hw/map_physical.cpp @ (length + inPage + (kPageSize - 1)) & ~(kPageSize - 1); @ (length + inPage + (2 * kPageSize - 1)) & ~(kPageSize - 1); @ --rxd loopback -- --loopback-test 1'

while IFS='@' read -r file text replacement args; do
    file=$(echo "$file" | xargs) text=$(echo "$text" | sed 's/^ //; s/ $//')
    replacement=$(echo "$replacement" | sed 's/^ //; s/ $//')
    # shellcheck disable=SC2086 # the comparison's options are words
    "$sim" --binary "$binary" --compare $args >"$scratch/report" 2>&1 || { cat "$scratch/report" >&2; false; } ||
        { echo "binary_mutants: the unchanged copy does not compare identical ($args)" >&2; exit 1; }
    cp "$scratch/$file" "$scratch/$file.orig"
    python3 - "$scratch/$file" "$text" "$replacement" <<'PY'
import sys
path, old, new = sys.argv[1:]
source = open(path).read()
if source.count(old) != 1:
    sys.exit("binary_mutants: '%s' is not in %s exactly once" % (old, path))
open(path, "w").write(source.replace(old, new))
PY
    build
    # shellcheck disable=SC2086
    if report=$("$sim" --binary "$binary" --compare $args 2>&1); then
        echo "binary_mutants: NOT caught: $file: '$text' -> '$replacement' ($args)" >&2
        exit 1
    fi
    echo "binary_mutants: caught: $file: '$text' -> '$replacement': $(echo "$report" | tail -1)"
    mv "$scratch/$file.orig" "$scratch/$file"
    touch "$scratch/$file"  # newer than the mutant's objects, so it is rebuilt
    build
done <<<"$mutations"
