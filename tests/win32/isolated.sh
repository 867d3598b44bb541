#!/usr/bin/env bash
# Runs a Windows test binary under Wine on a changed host, restarting the whole Wine stack
# (wineserver, services, the ICMP driver) inside it:
#   silent   a network namespace whose loopback ignores echo requests
#   denied   a process without CAP_NET_RAW in a fresh network namespace (whose
#            ping_group_range is "1 0"), so that no ICMP socket may be opened
#   volumes  a read-only and a full volume, each holding korvi.ini (top=4320), at the folders
#            in KORVI_READ_ONLY_VOLUME and KORVI_FULL_VOLUME
# or, in the usual Wine session, at a display scale of N pixels to the inch (dpi=N). The test
# finds the mode in KORVI_ISOLATED. Afterwards the usual Wine session is started again. Usage:
#   isolated.sh MODE WINCTL_EXE TEST_EXE [ARGS...]; exits 77 (skipped) when not root.
set -euo pipefail
mode=$1
winctl=$2
shift 2
export KORVI_ISOLATED=$mode
if [[ $mode == dpi=* ]]; then
  scale() { wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null; }
  trap 'scale 96' EXIT
  scale "${mode#dpi=}" && wine "$@"
  exit
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: $mode needs root for a network namespace, to drop CAP_NET_RAW or to mount"
  exit 77
fi

# The running wineserver lives outside the changed host; the next wine starts a fresh one.
wineserver -k 2>/dev/null || true
status=0
case $mode in
  silent)
    unshare -n bash -c '
      ip link set lo up
      sysctl -qw net.ipv4.icmp_echo_ignore_all=1
      status=0
      wine "$@" || status=$?
      wineserver -k 2>/dev/null || true
      exit $status' isolated "$@" || status=$?
    ;;
  denied)
    unshare -n setpriv --bounding-set -net_raw --inh-caps -net_raw -- bash -c '
      ip link set lo up
      status=0
      wine "$@" || status=$?
      wineserver -k 2>/dev/null || true
      exit $status' isolated "$@" || status=$?
    ;;
  volumes)
    unshare -m bash -c '
      at=$(mktemp -d /tmp/korvi-volumes.XXXXXX) && mkdir "$at/ro" "$at/full"
      for volume in ro full; do mount -t tmpfs -o size=64k tmpfs "$at/$volume"; done
      printf "[main]\r\ntop=4320\r\n" | tee "$at/ro/korvi.ini" >"$at/full/korvi.ini"
      mount -o remount,ro "$at/ro" && { cat /dev/zero >"$at/full/filler"; } 2>/dev/null
      status=0
      KORVI_READ_ONLY_VOLUME="Z:$at/ro" KORVI_FULL_VOLUME="Z:$at/full" wine "$@" || status=$?
      wineserver -k 2>/dev/null || true
      umount "$at/ro" "$at/full" && rm -rf "$at"
      exit $status' isolated "$@" || status=$?
    ;;
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
"$(dirname "$0")/wine-session.sh" "$winctl"
exit $status
