#!/bin/sh
# The side-by-side benchmark of the win32 build under Wine: the DLL's step
# against a bare Winsock sendto in one Windows process, pinned to one CPU
# together with its wineserver, since under Wine every sendto is a round
# trip to the server and two CPUs would time the handover between them.
#
#   bench/wine-side-by-side.sh [ARGS...]     ARGS go to sv_side_by_side.exe
#
# BUILD (default build/win32) is the win32 build tree, CPU (default the
# last one) the CPU to pin to. The prefix is the build's test prefix; a wineserver of it
# that is already up is ended first, so that the one serving the run is
# started here, pinned.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/win32}
cpu=${CPU:-$(($(nproc) - 1))}
exe="$build/bin/sv_side_by_side.exe"
[ -f "$exe" ] || { echo "no $exe: build the win32 preset first" >&2; exit 2; }

prefix="$build/wineprefix"
"$root/scripts/wine-prefix.sh" init "$prefix"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
# A persistent server, pinned; every process of the run inherits the CPU.
taskset -c "$cpu" wineserver -p30 </dev/null >/dev/null 2>&1
taskset -c "$cpu" wineboot </dev/null >/dev/null 2>&1
status=0
taskset -c "$cpu" wine "$exe" "$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
exit $status
