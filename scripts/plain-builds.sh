#!/usr/bin/env bash
# Builds korvi as a CMake user would, with no option of ours: a GCC Release build and the cross
# build for Windows, each in a fresh folder. Warnings stay warnings here; scripts/setup.sh and
# scripts/windows-build.sh make them errors.
set -euo pipefail
(($# == 0)) || { echo "plain-builds: takes no arguments (given: $*)" >&2; exit 2; }
cd "$(dirname "$0")/.."
scratch=$(mktemp -d /tmp/korvi-plain.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

cmake -S . -B "$scratch/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/release" --parallel "$(nproc)"
cmake -S . -B "$scratch/windows" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/windows" --parallel "$(nproc)"
echo "plain-builds: GCC Release and the Windows cross build both built"
