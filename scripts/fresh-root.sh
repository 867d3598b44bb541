#!/usr/bin/env bash
# What a newcomer does, on a machine with nothing on it: a minimal Debian 12 root (debootstrap's
# minbase variant), this repository's commit cloned into it, and the README's commands run in
# it as root: the run command until it prints its screenshot, the test command, then the test
# command's set-up and the run command once more, which must install nothing. A package that
# the lists in scripts/ forget fails here even where this machine has it.
#   scripts/fresh-root.sh [commit]     (default: HEAD; as root, with scripts/packages-ci.txt)
# The root runs in namespaces of its own: mounts (its /proc, /sys, /dev, /run), processes
# (nothing it starts outlives it) and network (its X servers and buses cannot meet this
# machine's; slirp4netns gives it the way out to Debian's mirrors). Kept between runs in
# KORVI_CI_CACHE (/var/cache/korvi-ci): the finished minbase root as a tarball, rebuilt after
# a month, and the packages apt downloads; every run installs them afresh.
set -euo pipefail

if [[ "${1:-}" == --inside ]]; then
  # pid 1 of the root's namespaces: mounts what a booted machine has, runs the commands.
  # Anywhere else its clean-up, which ends every process it can see, would end the machine's.
  [[ $$ -eq 1 ]] || { echo "fresh-root: --inside is for the root's own pid namespace" >&2; exit 2; }
  root=$2 archives=$3
  cleanup() {
    trap - EXIT INT TERM
    kill -KILL -1 2>/dev/null || true # everything else in this pid namespace
    sleep 0.2
    if mountpoint -q "$root"; then umount -R "$root" 2>/dev/null || umount -R -l "$root"; fi
  }
  trap cleanup EXIT
  trap 'exit 130' INT TERM
  for _ in $(seq 200); do ip route show default | grep -q . && break; sleep 0.1; done
  ip route show default | grep -q . || { echo "fresh-root: no network in the root" >&2; exit 1; }
  ip link set lo up

  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount -t sysfs -o ro sysfs "$root/sys"
  mount -t tmpfs -o mode=755,nosuid tmpfs "$root/dev"
  for node in null zero full random urandom tty; do
    touch "$root/dev/$node"
    mount --bind "/dev/$node" "$root/dev/$node"
  done
  mkdir "$root/dev/pts" "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620,gid=5 devpts "$root/dev/pts"
  ln -s pts/ptmx "$root/dev/ptmx"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
  ln -s /proc/self/fd "$root/dev/fd"
  ln -s /proc/self/fd/0 "$root/dev/stdin"
  ln -s /proc/self/fd/1 "$root/dev/stdout"
  ln -s /proc/self/fd/2 "$root/dev/stderr"
  mount -t tmpfs -o mode=755,nosuid,nodev tmpfs "$root/run"
  mkdir -m 1777 "$root/run/lock"
  mount --bind "$archives" "$root/var/cache/apt/archives"

  # A login shell's environment as root, in the clone.
  as_root() {
    chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash \
      TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      /bin/bash -c 'cd /root/korvi && exec "$@"' bash "$@"
  }
  # The run command until its screenshot, then Ctrl+C as a person would: SIGINT to its
  # process group (a group of its own, as a terminal's foreground job, through job control).
  run_until_screenshot() {
    local log=$root/root/run.log started=$SECONDS
    : >"$log"
    set -m
    as_root bash scripts/run.sh >"$log" 2>&1 &
    local run=$!
    set +m
    while kill -0 "$run" 2>/dev/null && ! grep -q 'screenshot: ' "$log"; do
      ((SECONDS - started < 1800)) || break
      sleep 1
    done
    kill -INT -- "-$run" 2>/dev/null || true
    wait "$run" || true
    sed 's/^/  run.sh: /' "$log"
    if ! grep -q 'screenshot: ' "$log"; then
      echo "fresh-root: the run command printed no screenshot" >&2
      return 1
    fi
    echo "fresh-root: the run command showed korvi after $((SECONDS - started)) s"
  }

  start=$SECONDS
  run_until_screenshot
  test_start=$SECONDS
  as_root bash scripts/test.sh &
  wait $! || { echo "fresh-root: the test command failed" >&2; exit 1; }
  echo "fresh-root: the test command passed in $((SECONDS - test_start)) s"
  # Once more, each installs nothing: the test command's set-up (its suite proved above), and
  # the run command to its screenshot.
  as_root bash scripts/setup.sh >"$root/root/setup.log" 2>&1 &
  if ! wait $!; then
    cat "$root/root/setup.log"
    echo "fresh-root: the second set-up failed" >&2
    exit 1
  fi
  run_until_screenshot
  if grep -h '^installing ' "$root/root/setup.log" "$root/root/run.log"; then
    echo "fresh-root: a second run of the commands installed the packages above again" >&2
    exit 1
  fi
  echo "fresh-root: the README's commands passed in a fresh Debian 12 in $((SECONDS - start)) s"
  exit 0
fi

cd "$(dirname "$0")/.."
commit=$(git rev-parse --verify "${1:-HEAD}^{commit}")
if [[ $(id -u) -ne 0 ]]; then
  echo "fresh-root: needs root (debootstrap, chroot, namespaces)" >&2
  exit 1
fi
cache=${KORVI_CI_CACHE:-/var/cache/korvi-ci}
mkdir -p "$cache/archives/partial"
# One stage at a time on this machine: they share apt's download cache, which drops what no
# run has downloaded for two months.
exec 9>"$cache/lock"
flock 9
find "$cache/archives" -maxdepth 1 -name '*.deb' -mtime +60 -delete

tarball=$cache/bookworm-minbase.tar
if [[ ! -s $tarball ]] || [[ -n $(find "$tarball" -mtime +30) ]]; then
  echo "fresh-root: making a minimal Debian 12 root ($tarball)"
  fresh=$(mktemp -d "$cache/debootstrap.XXXXXX")
  trap 'rm -rf --one-file-system "$fresh"' EXIT
  debootstrap --variant=minbase bookworm "$fresh" http://deb.debian.org/debian >"$fresh.log" 2>&1 ||
    { tail -n 20 "$fresh.log" >&2; rm -f "$fresh.log"; exit 1; }
  rm -f "$fresh.log"
  # What Debian's installer adds to a machine it sets up: the updates and security suites.
  cat >"$fresh/etc/apt/sources.list" <<'EOF'
deb http://deb.debian.org/debian bookworm main
deb http://deb.debian.org/debian bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
  # dpkg writes without syncing every file, as in Debian's container images: what it installs
  # is the same, a throw-away root just gets there sooner.
  echo force-unsafe-io >"$fresh/etc/dpkg/dpkg.cfg.d/unsafe-io"
  chmod 755 "$fresh" # mktemp's 0700 would become the root's / and lock out every other user
  tar -C "$fresh" --numeric-owner -cf "$tarball.new" .
  mv "$tarball.new" "$tarball"
  rm -rf --one-file-system "$fresh"
  trap - EXIT
fi

scratch=$(mktemp -d /var/tmp/korvi-fresh-root.XXXXXX)
root=$scratch/root
inner="" slirp=""
cleanup() {
  trap - EXIT INT TERM
  if [[ -n $inner ]]; then
    # unshare leaves the signals to its child, the root's pid 1, which unmounts everything
    # and ends; when it ends, every process of the root ends, and with the last of them the
    # root's mount namespace and whatever is still mounted in it.
    local pid1
    pid1=$(cat "/proc/$inner/task/$inner/children" 2>/dev/null || true)
    [[ -z $pid1 ]] || kill -TERM $pid1 2>/dev/null || true
    for _ in $(seq 300); do kill -0 "$inner" 2>/dev/null || break; sleep 0.1; done
    [[ -z $pid1 ]] || kill -KILL $pid1 2>/dev/null || true
    kill -KILL "$inner" 2>/dev/null || true
    wait "$inner" 2>/dev/null || true
  fi
  [[ -n $slirp ]] && { kill "$slirp" 2>/dev/null || true; wait "$slirp" 2>/dev/null || true; }
  # The root's mounts lived in its own mount namespace; none may be left in this one.
  if grep -qF " $scratch" /proc/self/mountinfo; then
    echo "fresh-root: $scratch is still mounted on; left in place" >&2
  else
    rm -rf --one-file-system "$scratch"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$root"
tar -C "$root" --numeric-owner -xpf "$tarball"
chmod 755 "$root" # as a machine's / is, whatever a tarball made elsewhere says
# The root shares this machine's name; as Debian's installer does, its hosts file names it, and
# a program that looks its own host up (X authority, ICE, Wine) asks no name server.
printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' \
  "$(hostname)" >"$root/etc/hosts"
hostname >"$root/etc/hostname"
nameserver=$(awk '$1 == "nameserver" { print $2; exit }' /etc/resolv.conf)
# slirp4netns answers DNS itself where this machine's resolver sits on its own loopback.
[[ -n $nameserver && $nameserver != 127.* && $nameserver != ::1 ]] || nameserver=10.0.2.3
echo "nameserver $nameserver" >"$root/etc/resolv.conf"
git clone -q --no-local --no-checkout . "$root/root/korvi"
# A commit on no branch (a detached HEAD) comes along with HEAD itself.
git -C "$root/root/korvi" fetch -q "$PWD" HEAD
git -C "$root/root/korvi" checkout -q --detach "$commit"
# apt downloads as its own user, whose id the root decides.
chown "$(awk -F: '$1 == "_apt" { print $3 }' "$root/etc/passwd")" "$cache/archives/partial"
echo "fresh-root: $commit in a minimal Debian 12 root at $root"

unshare --mount --pid --net --fork --kill-child=TERM --propagation private \
  bash "$PWD/scripts/fresh-root.sh" --inside "$root" "$cache/archives" 9>&- &
inner=$!
own=$(readlink /proc/self/ns/net)
for _ in $(seq 100); do
  [[ $(readlink "/proc/$inner/ns/net" 2>/dev/null) != "$own" ]] && break
  sleep 0.05
done
slirp4netns --configure --mtu=65520 --disable-host-loopback "$inner" tap0 \
  >"$scratch/slirp.log" 2>&1 9>&- &
slirp=$!
status=0
wait "$inner" || status=$?
inner=""
exit "$status"
