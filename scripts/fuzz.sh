#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan and UBSan in build-fuzz/ and runs each for
# a bounded time, starting from its seed corpus in tests/fuzz/corpus/<target>/.
#   scripts/fuzz.sh [seconds per target]    (default 40; five targets)
# An input that breaks a target is saved as build-fuzz/fuzz-<target>-crash-*; once the bug is
# fixed, copy it into tests/fuzz/corpus/<target>/, where `ctest --test-dir build-fuzz -R ^fuzz_`
# replays it.
set -euo pipefail
if (($# > 1)) || [[ $# == 1 && ! $1 =~ ^[1-9][0-9]{0,4}$ ]]; then
  echo "fuzz: takes one whole number of seconds per target, 1 to 99999 (given: $*)" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
seconds=${1:-40}
build=build-fuzz
targets=(profile_reader profile_writer conversions echo_reply ico_file)

scripts/install-packages.sh scripts/packages-fuzz.txt

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVI_FUZZ=ON -DKORVI_WERROR=ON -DKORVI_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target korvi_fuzz
python3 scripts/check-packages.py "$build"

# New inputs go to a scratch corpus; the seeds in the repository stay as they are.
scratch=$(mktemp -d /dev/shm/korvi-fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/tmp"
export TMPDIR=$scratch/tmp
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

rm -f "$build"/fuzz-*-crash-* "$build"/fuzz-*-leak-* "$build"/fuzz-*-timeout-* "$build"/fuzz-*-oom-*
failed=()
for target in "${targets[@]}"; do
  mkdir "$scratch/$target"
  log=$build/fuzz-$target.log
  if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/fuzz-$target-" \
    "$scratch/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz: $target: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" |
      grep -o '[0-9]*$') runs in ${seconds} s, nothing found"
  else
    failed+=("$target")
    echo "fuzz: $target FAILED; the end of $log:" >&2
    tail -n 40 "$log" >&2
  fi
done
if ((${#failed[@]})); then
  echo "fuzz: broken: ${failed[*]} (inputs: $build/fuzz-<target>-crash-*)" >&2
  exit 1
fi
