#!/usr/bin/env bash
# korvi.exe from its installed portable folder under Wine, on the X server with the tray host
# that scripts/windows-test.sh provides (DISPLAY, WINEPREFIX and friends come from there).
# Usage: e2e.sh BUILD_DIR WINCTL_EXE
set -euo pipefail
build=$1
winctl=$2

work=$(mktemp -d /tmp/korvi-e2e.XXXXXX)
drive=""
korvi_pid=""
cleanup() {
  [ -n "$korvi_pid" ] && kill "$korvi_pid" 2>/dev/null || true
  [ -n "$drive" ] && rm -f "$drive"
  mountpoint -q "$work/net" && { wineserver -k; umount "$work/net"; "${0%/*}/wine-session.sh" "$winctl"; }
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Polls a command for up to 10 s: a check of values it reads goes through eval, to read them anew.
eventually() {
  for _ in $(seq 50); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.2
  done
  return 1
}
# Bounded: a Wine call that hangs fails the step it belongs to, by name, instead of the run.
ctl() { timeout 30 wine "$winctl" "$@" | tr -d '\r'; }
# Waits (at most 30 s) for korvi to end after `$1`; its status goes to `status`.
finish() {
  for _ in $(seq 150); do
    kill -0 "$korvi_pid" 2>/dev/null || break
    sleep 0.2
  done
  kill -0 "$korvi_pid" 2>/dev/null && fail "korvi did not end within 30 s after $1"
  status=0
  wait "$korvi_pid" || status=$?
  korvi_pid=""
}
state_of() { ctl state | sed -n "s/^$1=//p"; }
# The text of korvi's error box (waiting up to 10 s for it), pressing its OK button.
error_box() { for _ in $(seq 50); do ctl dialog 2>/dev/null && return; sleep 0.2; done; return 1; }
# The X windows that Wine's shell has docked into trayer: one per tray entry.
docked_icons() {
  local panel
  panel=$(timeout 5 xdotool search --classname '^panel$' | head -n 1)
  timeout 5 xwininfo -tree -id "$panel" | awk '/"explorer.exe"/ {print $1}'
}
docked_count() { docked_icons | grep -c . || true; }
pixel() { import -window root -crop "1x1+$1+$2" -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}'; }
settings_value() { tr -d '\r' <"$1" | sed -n "s/^$2=//p"; }

cmake --install "$build" --prefix "$work/korvi" >/dev/null
for f in korvi.exe korvi.ini korvi-up.ico korvi-down.ico korvi-neutral.ico start-at-login.txt; do
  [ -f "$work/korvi/$f" ] || fail "the portable folder lacks $f"
done
grep -q 'shell:startup' "$work/korvi/start-at-login.txt" || fail "start-at-login.txt names no Startup folder"
# The version resource, whose strings are UTF-16, gives the project's version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
strings -e l "$work/korvi/korvi.exe" | grep -qx "$version" || fail "no version $version in korvi.exe"

# --- A run with a crafted korvi.ini: placed, docked, shown by a tray click, probing,
# --- and the position written back at close.
cat >"$work/korvi/korvi.ini" <<'INI'
[main]
top=1800
left=2250
icon1=korvi-up.ico
r1=10
g1=200
b1=30
icon2=korvi-down.ico
r2=200
g2=20
b2=20
[setting]
timer=200
ipaddress=127.0.0.1
INI
icons_before=$(docked_count)
wine "$work/korvi/korvi.exe" >"$work/stdout" 2>"$work/stderr" &
korvi_pid=$!
eventually ctl state || fail "no korvi window"

[ "$(state_of caption)" = B ] || fail "caption $(state_of caption)"
[ "$(state_of toolwindow),$(state_of sizable),$(state_of minmax),$(state_of closebox)" = 1,0,0,1 ] ||
  fail "not a fixed tool window with a close button: $(ctl state)"
# The manifest is there and taken: korvi follows each monitor's scale.
[ "$(state_of awareness)" = 2 ] || fail "not aware of each monitor's scale: $(ctl state)"
# 2250 and 1800 twips are 150 and 120 pixels.
frame=$(state_of frame)
[ "${frame%,*,*}" = 150,120 ] || fail "window at $frame, not at 150,120"
IFS=, read -r cl ct cr cb <<<"$(state_of client)"
[ $((cr - cl))x$((cb - ct)) = 104x89 ] || fail "client area $((cr - cl))x$((cb - ct))"
[ "$(state_of text1)" = 127.0.0.1 ] || fail "address box holds '$(state_of text1)'"
eventually eval 'test "$(docked_count)" -gt "$icons_before"' || fail "no tray entry docked in trayer"

# Every 200 ms a probe; the first answer writes one line and the answered colour.
one_answered_line() { [[ "$(state_of text2)" =~ ^[0-9]{2}:[0-9]{2}:[0-9]{2}\ :\ \ 0\\r\\n$ ]]; }
eventually one_answered_line || fail "log box holds '$(state_of text2)', not one answered line"
IFS=, read -r l2 t2 r2 b2 <<<"$(state_of text2_rect)"
# Low in the log box, left of its scroll bar, below any text.
x=$((l2 + 8))
y=$((b2 - 6))
eventually eval 'test "$(pixel $x $y)" = "#0AC81E"' || fail "log box colour $(pixel $x $y) at $x,$y"
sleep 1
[ "$(state_of text2 | grep -o '\\r\\n' | wc -l)" -eq 1 ] || fail "unchanged answers wrote lines"

# Hidden, then shown again by a click on the tray entry.
ctl hide
[ "$(state_of visible)" = 0 ] || fail "window not hidden"
icon=$(docked_icons | tail -n 1)
xdotool mousemove --window "$icon" 8 8 click 1
eventually eval 'test "$(state_of visible)" = 1' || fail "a click on the tray entry did not show the window"

# The shell loses its entries and restarts: the entry comes back.
docked=$(docked_count)
ctl tray-forget
eventually eval 'test "$(docked_count)" -lt "$docked"' || fail "the tray entry did not go"
ctl taskbar-created
eventually eval 'test "$(docked_count)" -eq "$docked"' || fail "the tray entry was not added again"

# Moved, maximised, then closed with the close button: the normal place is written back.
ctl move 300 200
ctl maximize
ctl close
finish "the close button"
[ "$status" -eq 0 ] || fail "korvi ended with status $status: $(cat "$work/stderr")"
[ "$(settings_value "$work/korvi/korvi.ini" top)" = 3000 ] || fail "top not written back"
[ "$(settings_value "$work/korvi/korvi.ini" left)" = 4500 ] || fail "left not written back"
[ "$(settings_value "$work/korvi/korvi.ini" ipaddress)" = 127.0.0.1 ] || fail "settings lost"
eventually eval 'test "$(docked_count)" -eq "$icons_before"' || fail "the tray entry stayed after close"

# --- The session ends while korvi is minimised: its normal place is written and the entry
# --- goes, as at the close button.
wine "$work/korvi/korvi.exe" >"$work/stdout" 2>"$work/stderr" &
korvi_pid=$!
eventually ctl state || fail "no korvi window"
eventually eval 'test "$(docked_count)" -gt "$icons_before"' || fail "no tray entry docked in trayer"
ctl move 450 300
ctl minimize
ctl end-session || fail "the window refused the end of the session"
finish "the end of the session"
[ "$status" -eq 0 ] || fail "korvi ended with status $status at the end of the session"
[ "$(settings_value "$work/korvi/korvi.ini" top)" = 4500 ] || fail "top not written at session end"
[ "$(settings_value "$work/korvi/korvi.ini" left)" = 6750 ] || fail "left not written at session end"
eventually eval 'test "$(docked_count)" -eq "$icons_before"' || fail "the tray entry stayed after the session"

# --- Started from a drive root without a usable top: the error names K:\korvi.ini, shows
# --- in a message box and on standard error, and nothing is shown or docked.
printf '[main]\r\nleft=0\r\n' >"$work/korvi/korvi.ini"
drive="$WINEPREFIX/dosdevices/k:"
ln -sfn "$work/korvi" "$drive"
wine 'K:\korvi.exe' >"$work/stdout" 2>"$work/stderr" &
korvi_pid=$!
box=$(error_box) || fail "no error box"
finish "the error box"
expected='K:\korvi.ini, [main] top = "" is not a number'
grep -qxF "text=$expected" <<<"$box" || fail "error box: $box"
grep -qx "visible=0" <<<"$box" || fail "the window was shown despite the error"
grep -qF "$expected" "$work/stderr" || fail "standard error: $(cat "$work/stderr")"
[ "$status" -eq 1 ] || fail "korvi ended with status $status after a bad setting"
[ "$(docked_count)" -eq "$icons_before" ] || fail "a tray entry was added despite the error"

# --- From folders named in other scripts, with icons so named in a UTF-16 korvi.ini: both load,
# --- the position is saved in the file's own encoding, and an error names the folder as it is.
for folder in 'Мониторинг' '監視 ü'; do
  dir="$work/$folder"
  mkdir "$dir"
  cp "$work/korvi/korvi.exe" "$dir/"
  cp "$work/korvi/korvi-up.ico" "$dir/зелёный.ico"
  cp "$work/korvi/korvi-down.ico" "$dir/красный.ico"
  printf '%s\r\n' '[main]' top=0 left=0 icon1=зелёный.ico icon2=красный.ico '[setting]' timer=200 \
    ipaddress=127.0.0.1 | iconv -t UTF-16 >"$dir/korvi.ini"
  wine "$dir/korvi.exe" >"$work/stdout" 2>"$work/stderr" &
  korvi_pid=$!
  eventually one_answered_line || fail "in $folder: no answered line: $(cat "$work/stderr")"
  ctl move 300 200
  ctl close
  finish "the close button in $folder"
  [ "$status" -eq 0 ] || fail "korvi in $folder ended with status $status: $(cat "$work/stderr")"
  [ "$(iconv -f UTF-16 "$dir/korvi.ini" | settings_value /dev/stdin top)" = 3000 ] ||
    fail "in $folder: top not written back as UTF-16"
  printf '[main]\r\ntop=x\r\n' >"$dir/korvi.ini"
  wine "$dir/korvi.exe" >"$work/stdout" 2>"$work/stderr" &
  korvi_pid=$!
  box=$(error_box) || fail "in $folder: no error box"
  finish "the error box in $folder"
  expected="$(winepath -w "$dir")\korvi.ini, [main] top = \"x\" is not a number"
  grep -qxF "text=$expected" <<<"$box" || fail "error box: $box"
done

# --- notify=1, Wine's session (which sends the echoes) in a network namespace, silent at first.
[ "$(id -u)" -eq 0 ] || { echo "e2e passed; balloons skipped: a silent host needs root (netns)"; exit 0; }
touch "$work/net"
wineserver -k
unshare --net="$work/net" sh -c 'ip link set lo up && sysctl -qw net.ipv4.icmp_echo_ignore_all=1'
# Wine 8's tooltips do not tell their title: its shell's trace does, and that it got no icon.
WINEDEBUG=+tooltips KORVI_SHELL_LOG=$work/shell nsenter --net="$work/net" "${0%/*}/wine-session.sh" "$winctl"
printf '%s\r\n' '[main]' top=0 left=0 icon1=korvi-up.ico icon2=korvi-down.ico '[setting]' \
  timer=200 ipaddress=127.0.0.1 notify=1 >"$work/korvi/korvi.ini"
nsenter --net="$work/net" wine "$work/korvi/korvi.exe" >"$work/stdout" 2>"$work/stderr" &
balloon_shows() { ctl balloons >"$work/balloons" && grep -q "$1" "$work/balloons"; }
eventually balloon_shows ' 11010$' || fail "no balloon of a first silence: $(cat "$work/stderr")"
ctl hide
xdotool mousemove $(cut -d' ' -f1,2 "$work/balloons") click 1 sleep 1
[ "$(state_of visible)" = 0 ] || fail "Wine 8 told no one of a click on a balloon; it does now: test it"
nsenter --net="$work/net" sysctl -qw net.ipv4.icmp_echo_ignore_all=0
eventually balloon_shows ' 0, after [0-9]* s$' || fail "no balloon of the answer: $(ctl balloons)"
titles=$(sed -n 's/.*SetTitleT hwnd = .*, title = L"\(.*\)", icon = 0*$/\1/p' "$work/shell")
[ "$titles" = $'127.0.0.1 does not answer\n127.0.0.1 answers' ] || fail "titles: $(grep SetTitleT "$work/shell")"
ctl balloon-click
eventually eval 'test "$(state_of visible)" = 1' || fail "a click on the balloon did not show the window"
echo "e2e passed"
