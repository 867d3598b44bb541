#!/usr/bin/env bash
# Builds korvi in build/ and measures its footprint against the floor for a Qt tray program,
# built and run in the same go (bench/footprint/footprint.py): idle memory, start-up to the tray
# entry, idle wake-ups and the UI thread's blocked time per tick, each as a ratio to the floor.
#   scripts/bench.sh           every figure (about five minutes)
#   scripts/bench.sh --quick   fewer runs and shorter spans
# The table is printed and kept in build/footprint.md.
set -euo pipefail
if (($# > 1)) || [[ $# == 1 && $1 != --quick ]]; then
  echo "bench: unknown arguments: $* (--quick or none)" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
scripts/setup.sh
python3 bench/footprint/footprint.py --korvi build/korvi \
  --floor build/bench/footprint/footprint_floor --assets assets \
  --watcher build/tests/e2e/sni_watcher --report build/footprint.md "$@"
