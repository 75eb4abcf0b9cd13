#!/usr/bin/env bash
# Installs, from Debian's packages, what a Varkel command needs and this
# machine lacks, saying what it installs; does nothing when nothing is
# missing. Uses sudo unless run as root.
# Usage: tools/install-deps.sh sim|all
#   sim: build and run varkel-sim
#   all: build everything and run every test (host, clang, sanitizers,
#        32-bit ARM under qemu-user, the package)
set -euo pipefail

sim=(cmake ninja-build g++ pkg-config
    libcapstone-dev libssl-dev)              # --binary: the agent decodes host code; the summary hashes the file
all=("${sim[@]}"
    clang clang-format                       # the second compiler, and the sources' format
    libgtest-dev libbenchmark-dev            # tests and benchmarks
    libdeflate-dev zlib1g-dev sigrok-cli     # varkel-check unpacks sessions; tests pack them, and decode with sigrok
    libsigrok-dev                            # varkel-check acquires live (tests: the demo driver)
    crossbuild-essential-armel qemu-user     # the board binary, and the ARM builds run under emulation
    googletest                               # GoogleTest's sources, built for ARM where no package exists
    strace util-linux                        # the board binary's argument test watches its system calls
    help2man dpkg-dev file lintian)          # man pages, the package's dependencies, Debian's checker

case "${1:-}" in
    sim) wanted=("${sim[@]}") ;;
    all) wanted=("${all[@]}") ;;
    *) echo "usage: tools/install-deps.sh sim|all" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi
echo "install-deps: installing ${missing[*]}"
sudo=()
if ((EUID != 0)); then
    command -v sudo >/dev/null || { echo "install-deps: run as root, or install sudo" >&2; exit 1; }
    sudo=(sudo)
fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
