#!/usr/bin/env bash
# Runs a Windows test binary under Wine on a changed host, restarting the whole Wine stack
# (wineserver, services, the ICMP driver) inside it:
#   silent  a network namespace whose loopback ignores echo requests
#   denied  a process without CAP_NET_RAW in a fresh network namespace (whose
#           ping_group_range is "1 0"), so that no ICMP socket may be opened
# Afterwards the usual Wine session is started again. Usage:
#   isolated.sh MODE WINCTL_EXE TEST_EXE [ARGS...]; exits 77 (skipped) when not root.
set -euo pipefail
mode=$1
winctl=$2
shift 2
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: $mode needs root for a network namespace or to drop CAP_NET_RAW"
  exit 77
fi
export KORVI_WINE_ICMP=$mode

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
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
"$(dirname "$0")/wine-session.sh" "$winctl"
exit $status
