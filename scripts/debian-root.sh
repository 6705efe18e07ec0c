#!/usr/bin/env bash
# Runs a command of this repository in a fresh root of a Debian release, as
# on a new machine of that release:
#
#   scripts/debian-root.sh 12|13 COMMAND [ARG...]
#   scripts/debian-root.sh 13 scripts/test-all.sh native win32
#   scripts/debian-root.sh 13 scripts/demo.sh --wine
#
# Needs root. mmdebstrap makes the root (amd64 and i386) from the Debian
# mirror this machine's apt uses; the repository appears inside at its own
# path, its build trees in build/debian<N>/build (so they never mix with this
# machine's) and the packages apt fetches are kept in build/debian<N>/apt for
# the next run. The command runs as root in a private mount and process
# namespace with /proc, /dev, /dev/shm, /sys, /run and /tmp as Wine and Xvfb
# want them: nothing it mounts or starts outlives it, and the root is removed
# on every exit. The exit status is the command's.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

case "${1:-}" in
  12) codename=bookworm ;;
  13) codename=trixie ;;
  *) echo "usage: $0 12|13 COMMAND [ARG...]" >&2; exit 2 ;;
esac
number=$1
shift
[ $# -gt 0 ] || { echo "usage: $0 12|13 COMMAND [ARG...]" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ]; then
  echo "debian-root.sh needs root (it makes a root file system and mounts in it)" >&2
  exit 2
fi

# Inside the namespace (see below): mounts, then the command.
if [ "${SV_DEBIAN_ROOT_INSIDE:-}" = 1 ]; then
  root=$SV_DEBIAN_ROOT
  # The root its own mount point, as / is on a machine: mount and unshare
  # inside (a stage that makes the other release's root) refuse to change
  # the propagation of a / that is only a folder.
  mount --bind "$root" "$root"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount -t tmpfs tmpfs "$root/run"
  mkdir -m 700 -p "$root/run/user/0"
  mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
  mkdir -p "$root$repo" "$root/var/cache/apt/archives"
  mount --bind "$repo" "$root$repo"
  mount --bind "$SV_DEBIAN_BUILD" "$root$repo/build"
  mount --bind "$SV_DEBIAN_APT" "$root/var/cache/apt/archives"
  # The host's name server, for apt inside.
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  # As a root login on a new machine has it (Wine wants XDG_RUNTIME_DIR).
  exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    XDG_RUNTIME_DIR=/run/user/0 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${FUZZ_SECONDS:+FUZZ_SECONDS=$FUZZ_SECONDS} ${SOAK_STEPS:+SOAK_STEPS=$SOAK_STEPS} \
    ${SOAK_WINE_STEPS:+SOAK_WINE_STEPS=$SOAK_WINE_STEPS} \
    /bin/bash -c 'cd "$0" && exec "$@"' "$repo" "$@"
fi

scripts/install-deps.sh root

# This machine's apt source for SUITE: the first URI of a deb822 stanza
# (*.sources) or one-line entry (*.list) that names it.
apt_uri() {
  [ ${#apt_sources[@]} -gt 0 ] || return 0
  awk -v suite="$1" '
    function flush() {
      if (!found && types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && enabled != "no") {
        split(uris, u, " "); found = u[1]
      }
      types = uris = suites = enabled = ""
    }
    FNR == 1 { flush() }
    /^[ \t]*#/ { next }
    /^deb[ \t]/ { sub(/\[[^]]*\][ \t]*/, ""); if (!found && $3 == suite) found = $2; next }
    /^[ \t]*$/ { flush(); next }
    /^Types:/ { sub(/^Types:[ \t]*/, ""); types = $0 }
    /^URIs:/ { sub(/^URIs:[ \t]*/, ""); uris = $0 }
    /^Suites:/ { sub(/^Suites:[ \t]*/, ""); suites = $0 }
    /^Enabled:/ { sub(/^Enabled:[ \t]*/, ""); enabled = tolower($0) }
    END { flush(); if (found) print found }
  ' "${apt_sources[@]}"
}
apt_sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && apt_sources+=("$f")
done
own=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=$(apt_uri "$own")
if [ -z "$own" ] || [ -z "$mirror" ]; then
  echo "debian-root.sh: found no Debian mirror in this machine's apt sources (for '$own')" >&2
  exit 1
fi
sources=("deb $mirror $codename main" "deb $mirror $codename-updates main")
security=$(apt_uri "$own-security")
[ -z "$security" ] || sources+=("deb $security $codename-security main")

work="$repo/build/debian$number"
root="$work/root"
mkdir -p "$work/build" "$work/apt"
cleanup() {
  # Nothing is mounted here: the mounts lived in the namespace, which has
  # ended with its last process.
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
cleanup

start=$(date +%s)
echo "== a fresh Debian $number ($codename) root from $mirror"
mmdebstrap --quiet --variant=apt --architectures=amd64,i386 "$codename" "$root" "${sources[@]}"
echo "== root made in $(($(date +%s) - start)) s"
# --kill-child: should this script die, so does everything started inside.
SV_DEBIAN_ROOT_INSIDE=1 SV_DEBIAN_ROOT="$root" SV_DEBIAN_BUILD="$work/build" SV_DEBIAN_APT="$work/apt" \
  unshare --mount --pid --fork --kill-child --propagation private -- "$0" "$number" "$@"
