#!/usr/bin/env bash
# Removes what scripts/install-user.sh installed for the user running it: every file listed in
# korvi/installed-files in the user's data folder, and the folders it made once they are empty.
# The user's korvi.ini stays (this says where) unless --purge asks to remove it too.
#   scripts/uninstall-user.sh [--purge]
set -euo pipefail
fail() { echo "korvi: $*" >&2; exit 1; }

# Every argument is checked before anything is removed.
purge=""
for argument in "$@"; do
  case "$argument" in
    --purge) purge=yes ;;
    -h | --help) sed -n '2,5s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) fail "unknown option \"$argument\" (option: --purge); nothing was removed" ;;
  esac
done

if [[ "${XDG_DATA_HOME:-}" == /* ]]; then data=$XDG_DATA_HOME; else data=$HOME/.local/share; fi
dest=$data/korvi
manifest=$dest/installed-files
[[ -f "$manifest" ]] ||
  fail "nothing to remove: $manifest does not exist (korvi is not installed for $(id -un) here)"

mapfile -t lines <"$manifest"
for line in "${lines[@]}"; do
  path=${line#* }
  [[ "$path" == /* ]] || fail "$manifest: \"$line\" is not an absolute path; nothing was removed"
done
for line in "${lines[@]}"; do
  [[ "$line" == "file "* && "${line#file }" != "$manifest" ]] || continue
  rm -f "${line#file }" || fail "cannot remove ${line#file }"
done
ini=$dest/korvi.ini
if [[ -n "$purge" ]]; then
  rm -f "$ini" || fail "cannot remove $ini"
fi
rm -f "$manifest"
# Deepest first; a folder that holds anything else (the kept korvi.ini, the user's own files)
# stays.
printf '%s\n' "${lines[@]}" | sed -n 's/^dir //p' | sort -r | while IFS= read -r folder; do
  rmdir "$folder" 2>/dev/null || true
done

echo "korvi: removed every file the install wrote, as listed in $manifest"
if [[ -n "$purge" ]]; then
  echo "korvi: removed the settings $ini"
elif [[ -f "$ini" ]]; then
  echo "korvi: kept your settings in $ini (run with --purge to remove them too)"
fi
others=()
for path in "$dest"/* "$dest"/.*; do
  [[ -e "$path" && "${path##*/}" != @(.|..|korvi.ini) ]] && others+=("${path##*/}")
done
((${#others[@]} == 0)) || echo "korvi: left in $dest what the install did not write: ${others[*]}"
