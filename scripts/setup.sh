#!/usr/bin/env bash
# Installs what korvi needs on Debian 12 (as root) and builds it.
#   scripts/setup.sh             build/ (the program and its tests)
#   scripts/setup.sh --sanitize  build-asan/ (everything under ASan and UBSan)
#   scripts/setup.sh korvi       build/, the program alone
set -euo pipefail
cd "$(dirname "$0")/.."
if (($# > 1)) || [[ $# == 1 && $1 != --sanitize && $1 != korvi ]]; then
  echo "setup: unknown arguments: $* (one of: --sanitize, korvi, or none)" >&2
  exit 2
fi

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVI_WERROR=ON -DBUILD_TESTING=ON -DKORVI_BUILD_BENCH=ON)
lists=(scripts/packages.txt scripts/packages-test.txt scripts/packages-fuzz.txt)
case "${1:-}" in
  --sanitize)
    build=build-asan
    options=(-DCMAKE_BUILD_TYPE=Debug -DKORVI_WERROR=ON -DKORVI_SANITIZE=ON -DBUILD_TESTING=ON
      -DKORVI_BUILD_BENCH=OFF)
    ;;
  korvi)
    options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVI_WERROR=ON -DBUILD_TESTING=OFF
      -DKORVI_BUILD_BENCH=OFF)
    lists=(scripts/packages.txt)
    ;;
esac

# The desktop stage runs in the plain test build only (scripts/test.sh says why).
[[ $build == build && ${1:-} != korvi ]] && lists+=(scripts/packages-desktops.txt)
scripts/install-packages.sh "${lists[@]}"
cmake -S . -B "$build" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build"
