#!/usr/bin/env bash
# Sets up everything and runs korvi from build/ with the shipped korvi.ini and icons.
# Without a display, korvi runs on a virtual screen (Xvfb) beside a tray host (trayer); a
# screenshot of that screen is saved once the window and the tray entry are up, and korvi
# keeps running until interrupted.
set -euo pipefail
(($# == 0)) || { echo "run: takes no arguments (given: $*)" >&2; exit 2; }
cd "$(dirname "$0")/.."
scripts/setup.sh korvi

if [[ -n "${WAYLAND_DISPLAY:-}" ]] || { [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; }; then
  exec build/korvi
fi

display=""
for n in $(seq 90 140); do
  if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then display=":$n"; break; fi
done
[[ -n "$display" ]] || { echo "run: no free X display number between :90 and :140" >&2; exit 1; }

pids=()
runtime=""
cleanup() {
  # Last started first: korvi closes as at its close button while its display is still there
  # (the display and the tray run in sessions of their own, out of reach of a Ctrl+C).
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  [[ -n "$runtime" ]] && rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

setsid Xvfb "$display" -screen 0 400x240x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done
export DISPLAY=$display
runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime

setsid trayer --edge top --align right --widthtype pixel --width 60 --height 24 \
  --transparent false --tint 0xd0d0d0 --SetDockType true >/dev/null 2>&1 &
pids+=($!)
sleep 1

build/korvi &
korvi=$!
pids+=("$korvi")

shot="$PWD/build/korvi-screenshot.png"
up=""
for _ in $(seq 100); do
  kill -0 "$korvi" 2>/dev/null || { echo "run: korvi ended early" >&2; exit 1; }
  # The window and the tray entry docked in trayer are korvi's two visible windows.
  shown=$(xdotool search --onlyvisible --class korvi 2>/dev/null | wc -l || true)
  if [[ "$shown" -ge 2 ]]; then up=yes; break; fi
  sleep 0.1
done
sleep 0.5
import -window root "$shot"
[[ -n "$up" ]] || echo "run: the window or the tray entry did not show within 10 s" >&2
echo "korvi runs on the virtual display $DISPLAY; screenshot: $shot"
echo "Press Ctrl+C to stop."
# The first probe comes one interval after start-up; show its result too.
interval=$(sed -n 's/^[[:space:]]*timer[[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' build/korvi.ini | head -n 1)
sleep "$(( (${interval:-10000} + 1500) / 1000 ))"
if kill -0 "$korvi" 2>/dev/null; then
  import -window root "$shot"
  echo "after the first probe: $shot"
fi
wait "$korvi"
