#!/usr/bin/env bash
# Installs korvi for the user running it (no root): the program folder in the user's data
# folder, a menu entry, korvi's icon in the icon theme and, when asked, an entry that starts
# korvi at login. Running it again upgrades the program files and keeps the user's korvi.ini.
#   scripts/install-user.sh [--autostart | --no-autostart] [--build DIR]
# From a source tree it takes korvi from build/ (or DIR); from a folder that holds korvi
# itself (made by `cmake --install`), from that folder. An upgrade keeps the autostart entry
# unless --no-autostart says otherwise. Every file written is listed in korvi/installed-files,
# which scripts/uninstall-user.sh reads.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
say() { echo "korvi: $*"; }
# One word for sh, whatever it holds: single quotes, each quote inside written as '\''.
sh_quote() { local quote="'" escaped="'\\''"; printf "'%s'" "${1//$quote/$escaped}"; }
fail() { echo "korvi: $*" >&2; exit 1; }

autostart=keep
build=""
while (($#)); do
  case "$1" in
    --autostart) autostart=yes ;;
    --no-autostart) autostart=no ;;
    --build)
      (($# > 1)) && [[ -n "$2" ]] || fail "--build needs a folder"
      build=$2
      shift
      ;;
    -h | --help) sed -n '2,9s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) fail "unknown option \"$1\" (options: --autostart, --no-autostart, --build DIR);" \
      "nothing was installed" ;;
  esac
  shift
done

# Relative XDG folders are to be ignored, as if unset.
xdg() { if [[ "${1:-}" == /* ]]; then echo "$1"; else echo "$HOME/$2"; fi; }
data=$(xdg "${XDG_DATA_HOME:-}" .local/share)
config=$(xdg "${XDG_CONFIG_HOME:-}" .config)
dest=$data/korvi
manifest=$dest/installed-files
menu=$data/applications/korvi.desktop
login=$config/autostart/korvi.desktop
for path in "$dest" "$config"; do
  [[ "$path" != *$'\n'* ]] || fail "a folder name holds a line break: \"$path\""
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Where the program files come from.
if [[ -z "$build" && -x "$here/korvi" ]]; then
  source=$here
else
  build=${build:-$here/../build}
  [[ -x "$build/korvi" ]] ||
    fail "no korvi built in $build (build it with: bash scripts/setup.sh korvi)"
  # `cmake --install` lists what it installed in a file inside the build folder, which may
  # belong to whoever built korvi: a copy of its script writes that list here instead.
  build=$(cd "$build" && pwd -P)
  script=$(<"$build/cmake_install.cmake")
  printf '%s\n' "${script//"file(WRITE \"$build/"/"file(WRITE \"$scratch/"}" \
    >"$scratch/install.cmake"
  source=$scratch/stage
  cmake -DCMAKE_INSTALL_PREFIX="$source" -P "$scratch/install.cmake" >/dev/null ||
    fail "copying korvi out of $build failed (cmake -P $build/cmake_install.cmake)"
fi
[[ -f "$source/korvi-neutral.ico" ]] || fail "$source holds no korvi-neutral.ico"

previous=()
[[ -f "$manifest" ]] && mapfile -t previous <"$manifest"
written=()
made_dirs=()

# Creates the folder and its missing parents, noting those it made.
folder() {
  local path=$1 missing=()
  while [[ ! -d "$path" ]]; do missing=("$path" "${missing[@]}"); path=$(dirname "$path"); done
  for path in "${missing[@]}"; do
    mkdir "$path" || fail "cannot create the folder $path"
    made_dirs+=("dir $path")
  done
}

# Writes `file` from `from` by rename, so a running korvi keeps its old executable and a
# failed copy leaves the old file whole. An unchanged file is left alone (it keeps a
# capability that setcap gave it).
put() {
  local from=$1 file=$2 mode=$3
  folder "$(dirname "$file")"
  written+=("file $file")
  cmp -s "$from" "$file" 2>/dev/null && return 0
  { install -m "$mode" "$from" "$file.new" && mv -f "$file.new" "$file"; } ||
    fail "cannot write $file"
}

# A desktop entry's Exec value: the path in double quotes, with the characters the
# quoting and the entry's own escapes reserve escaped.
exec_value() {
  local path=$1
  path=${path//\\/\\\\}
  path=${path//\"/\\\"}
  path=${path//\`/\\\`}
  path=${path//\$/\\\$}
  path=${path//%/%%}
  path=${path//\\/\\\\}
  printf '"%s"' "$path"
}

entry() {
  cat <<EOF
[Desktop Entry]
Type=Application
Name=korvi
GenericName=Ping monitor
Comment=Shows at a glance whether one IPv4 host answers ping
Exec=$(exec_value "$dest/korvi")
Icon=korvi
Terminal=false
Categories=Network;Monitor;
StartupWMClass=korvi
EOF
}

# korvi sends its probes through Linux's unprivileged ICMP socket, or a raw socket when it runs
# as root or holds cap_net_raw; with neither, every probe reports 11050.
icmp_check() {
  local exe=$1 low high group getcap
  [[ $(id -u) -ne 0 ]] || return 0
  read -r low high </proc/sys/net/ipv4/ping_group_range || return 0
  for group in $(id -G); do ((group < low || group > high)) || return 0; done
  getcap=$(command -v getcap || echo /sbin/getcap)
  [[ -x "$getcap" ]] && "$getcap" "$exe" 2>/dev/null | grep -q cap_net_raw && return 0
  cat >&2 <<EOF
korvi: as things stand, every probe of korvi will report 11050 (general failure) for you.
korvi sends its echo requests through Linux's unprivileged ICMP socket, which the kernel
allows only to users whose group is inside net.ipv4.ping_group_range ("$low $high" here; your
groups: $(id -G)), and the installed korvi has no raw-socket capability. To allow every user,
run as root:
  sysctl -w net.ipv4.ping_group_range="0 2147483647"
  echo 'net.ipv4.ping_group_range = 0 2147483647' >/etc/sysctl.d/60-ping-group-range.conf
(the file keeps the setting after a reboot). Alternatively, give just the korvi executable the
raw-socket capability, as root (repeat it after each upgrade that changes korvi):
  setcap cap_net_raw+ep $(sh_quote "$exe")
EOF
}

# The program folder. The user's korvi.ini stays as it is; a first install gets the shipped one.
same=""
[[ -d "$dest" && "$(cd "$source" && pwd -P)" == "$(cd "$dest" && pwd -P)" ]] && same=yes
folder "$dest"
for from in "$source"/*; do
  name=$(basename "$from")
  [[ -f "$from" && "$name" != installed-files ]] || continue
  if [[ "$name" == korvi.ini ]]; then
    [[ -e "$dest/korvi.ini" ]] || install -m 644 "$from" "$dest/korvi.ini" ||
      fail "cannot write $dest/korvi.ini"
    continue
  fi
  if [[ -n "$same" ]]; then written+=("file $dest/$name"); continue; fi
  mode=644
  [[ -x "$from" ]] && mode=755
  put "$from" "$dest/$name" "$mode"
done

# The icon at every size the program's own icon file carries.
if command -v identify >/dev/null && command -v convert >/dev/null; then
  while read -r index width height; do
    png=$scratch/icon-$index.png
    convert "$source/korvi-neutral.ico[$index]" "png32:$png" ||
      fail "cannot read picture $index of $source/korvi-neutral.ico"
    put "$png" "$data/icons/hicolor/${width}x${height}/apps/korvi.png" 644
  done < <(identify -format '%p %w %h\n' "$source/korvi-neutral.ico")
  touch "$data/icons/hicolor" # icon caches look at the theme folder's time
else
  say "ImageMagick (convert, identify) is missing, so the menu entry shows no icon;" \
    "install the package imagemagick and run this again to add it"
fi

entry >"$scratch/menu"
put "$scratch/menu" "$menu" 644
if [[ "$autostart" == keep ]]; then
  autostart=no
  printf '%s\n' "${previous[@]}" | grep -qxF "file $login" && autostart=yes
fi
if [[ "$autostart" == yes ]]; then
  put "$scratch/menu" "$login" 644
fi

# Files of the previous install that this one no longer writes go, and so do the folders it
# made that they leave empty; the others stay listed.
for line in "${previous[@]}"; do
  [[ "$line" == "file "* ]] || continue
  printf '%s\n' "${written[@]}" | grep -qxF "$line" || rm -f "${line#file }"
done
while IFS= read -r made; do
  [[ -d "$made" ]] && ! rmdir "$made" 2>/dev/null && made_dirs=("dir $made" "${made_dirs[@]}")
done < <(printf '%s\n' "${previous[@]}" | sed -n 's/^dir //p' | sort -r)
printf '%s\n' "${made_dirs[@]}" | awk '!seen[$0]++' >"$scratch/manifest"
printf '%s\n' "${written[@]}" "file $manifest" >>"$scratch/manifest"
{ mv -f "$scratch/manifest" "$manifest.new" && mv -f "$manifest.new" "$manifest"; } ||
  fail "cannot write $manifest"

say "installed in $dest (settings: $dest/korvi.ini)"
say "menu entry: $menu"
[[ "$autostart" == yes ]] && say "starts at login: $login"
icmp_check "$dest/korvi"
