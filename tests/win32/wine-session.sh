#!/usr/bin/env bash
# Starts Wine's persistent server, its services and its shell (desktop and tray) for the current
# WINEPREFIX and DISPLAY, and waits until the tray is up. They outlive every program and would keep
# open the output of the one that happened to start them, so they start here, apart from any test.
# Any Wine program here may start the shell: their standard error goes to KORVI_SHELL_LOG if set.
# Usage: wine-session.sh WINCTL_EXE
set -euo pipefail
winctl=$1
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit 0 </dev/null >/dev/null 2>>"${KORVI_SHELL_LOG:-/dev/null}"
wine explorer.exe /desktop </dev/null >/dev/null 2>>"${KORVI_SHELL_LOG:-/dev/null}" &
for _ in $(seq 100); do
  wine "$winctl" shell-ready </dev/null >/dev/null 2>>"${KORVI_SHELL_LOG:-/dev/null}" && exit 0
  sleep 0.1
done
echo "wine-session: Wine's tray did not come up" >&2
exit 1
