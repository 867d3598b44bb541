#!/usr/bin/env bash
# Builds the Windows korvi and runs its tests under Wine, headless: a fresh Wine prefix in a
# scratch folder, a virtual X screen (Xvfb) with a tray host (trayer) for Wine's shell to dock
# into, then ctest in build-win/ (arguments go to ctest). Everything started here is stopped.
# Needs, beyond windows-build.sh: wine wine64 xvfb xauth trayer xdotool x11-utils imagemagick.
set -euo pipefail
# Only the ctest options that choose and show tests, checked before anything is built.
for ((i = 1; i <= $#; i++)); do
  case "${!i}" in
    -R | -E | -L | -LE | --repeat)
      option=${!i}
      ((++i <= $#)) || { echo "windows-test: $option needs a value" >&2; exit 2; } ;;
    -V | -VV | --output-on-failure | -N) ;;
    *)
      echo "windows-test: unknown argument \"${!i}\" (ctest's -R, -E, -L, -LE, --repeat with" \
        "a value; -V, -VV, --output-on-failure, -N)" >&2
      exit 2
      ;;
  esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/windows-build.sh"

scratch=$(mktemp -d /tmp/korvi-wine.XXXXXX)
pids=()
cleanup() {
  wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export WINEPREFIX=$scratch/prefix HOME=$scratch/home WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
mkdir -p "$HOME"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || { echo "windows-test: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$scratch/display")

wineboot --init >/dev/null 2>&1
# With no window manager on the virtual screen, Wine would wait for one on every hide.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
wineserver -w

# The tray host must be up before Wine's shell starts, so that the shell docks into it.
trayer --edge top --align right --widthtype pixel --width 120 --height 24 \
  --transparent false --SetDockType false >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdotool search --classname '^panel$' >/dev/null 2>&1 && break; sleep 0.1; done

"$root/tests/win32/wine-session.sh" "$root/build-win/tests/win32/winctl.exe"
ctest --test-dir "$root/build-win" --output-on-failure --timeout 300 "$@"
