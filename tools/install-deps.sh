#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing Varkel needs and
# this machine lacks. Run as root.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang          # host builds, both compilers
    googletest libbenchmark-dev          # tests and benchmarks
    sigrok-cli                           # decodes the simulated wire in the tests
    crossbuild-essential-armel qemu-user # the board build and its tests under emulation
)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    echo "install-deps: installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
