#!/usr/bin/env bash
# Installs what korvi needs on Debian 12 (as root) and builds it.
#   scripts/setup.sh             build/ (the program and its tests)
#   scripts/setup.sh --sanitize  build-asan/ (everything under ASan and UBSan)
#   scripts/setup.sh korvi       build/, the program alone
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
targets=()
case "${1:-}" in
  --sanitize)
    build=build-asan
    options=(-DCMAKE_BUILD_TYPE=Debug -DKORVI_SANITIZE=ON -DKORVI_BUILD_BENCH=OFF)
    ;;
  korvi) targets=(--target korvi) ;;
esac

lists=(scripts/packages.txt)
[[ ${#targets[@]} -eq 0 ]] && lists+=(scripts/packages-test.txt scripts/packages-fuzz.txt)
# The desktop stage runs in the plain build only (scripts/test.sh says why).
[[ ${#targets[@]} -eq 0 && $build == build ]] && lists+=(scripts/packages-desktops.txt)
scripts/install-packages.sh "${lists[@]}"

cmake -S . -B "$build" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build" "${targets[@]}"
