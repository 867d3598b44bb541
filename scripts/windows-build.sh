#!/usr/bin/env bash
# Cross-builds the native Windows korvi.exe (and its tests) with mingw-w64 in build-win/, lays
# out the portable folder and zips it: build-win/korvi-windows-x64.zip.
# Needs: cmake ninja-build g++-mingw-w64-x86-64-posix (and googletest's sources, libgtest-dev).
set -euo pipefail
(($# == 0)) || { echo "windows-build: takes no arguments (given: $*)" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-win

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKORVI_WERROR=ON -DBUILD_TESTING=ON >/dev/null
cmake --build "$build"

portable=$build/portable/korvi
rm -rf "$build/portable" "$build/korvi-windows-x64.zip"
cmake --install "$build" --prefix "$portable" --strip >/dev/null
(cd "$build/portable" && cmake -E tar cf ../korvi-windows-x64.zip --format=zip korvi)
echo "windows-build: $build/korvi-windows-x64.zip"
