#!/usr/bin/env bash
# Sets up everything and runs every test, then checks that every header, library and program
# the build and the tests used comes from a package that scripts/packages*.txt names or pulls in
# (scripts/check-packages.py), so that a missing install step fails here, not on a new machine.
#   scripts/test.sh             the Linux suite in build/, then the Windows build under Wine
#   scripts/test.sh --sanitize  the Linux suite under ASan and UBSan in build-asan/
# The desktop stage alone, once built: ctest --test-dir build -L desktops
set -euo pipefail
if (($# > 1)) || [[ $# == 1 && $1 != --sanitize ]]; then
  echo "test: unknown arguments: $* (--sanitize or none)" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
scripts/setup.sh "$@"
build=build
[[ "${1:-}" == "--sanitize" ]] && build=build-asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
executed=$build/executed-files.txt
rm -f "$executed"
watch=(python3 scripts/watch-exec.py "$executed" --)
status=0
builds=("$build:korvi")
if [[ "${1:-}" == "--sanitize" ]]; then
  # The soak's 10,000 ticks measure korvi's own memory; under ASan they would measure ASan.
  # The desktops test how korvi fits into each desktop, which the sanitizers do not change;
  # korvi's memory under them is tried by every other end-to-end test.
  "${watch[@]}" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600 \
    -LE 'soak|desktops' || status=$?
else
  "${watch[@]}" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600 &&
    "${watch[@]}" scripts/windows-test.sh || status=$?
  [[ -e build-win/build.ninja ]] && builds+=(build-win)
fi
# After a failed suite too: a program that no list installs is a likely reason for it.
python3 scripts/check-packages.py --executed "$executed" "${builds[@]}" || status=1
exit "$status"
