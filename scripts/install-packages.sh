#!/usr/bin/env bash
# Installs (as root, without recommends) the Debian packages named in the given lists that are
# not installed yet; one package a line, "#" starts a comment.
#   scripts/install-packages.sh scripts/packages.txt [more lists...]
set -euo pipefail
(($#)) || { echo "install-packages: name at least one package list" >&2; exit 2; }
for list in "$@"; do
  [[ -f "$list" && -r "$list" ]] || { echo "install-packages: no package list $list" >&2; exit 2; }
done
mapfile -t wanted < <(cat "$@" | grep -v '^#' | grep .)
missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
((${#missing[@]})) || exit 0
if [[ $(id -u) -ne 0 ]]; then
  echo "korvi: these Debian packages are missing; install them as root: ${missing[*]}" >&2
  exit 1
fi
echo "installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
