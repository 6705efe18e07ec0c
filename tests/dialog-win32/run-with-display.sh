#!/bin/sh
# Runs a Windows program under Wine on a private Xvfb display.
#
#   run-with-display.sh PREFIX EXE ARGS...
#   run-with-display.sh PREFIX --sh SCRIPT ARGS...   (SCRIPT runs wine itself)
#
# Prepares PREFIX once for dialogs without a window manager (X11 driver
# Decorated=N and Managed=N, so captions are drawn and closing a window does
# not stall; the Wine fonts in C:\windows\Fonts), starts Xvfb on a free
# display, runs the program, then ends the prefix's wineserver and Xvfb.
set -eu

prefix=${1:?prefix}
shift
root=$(cd "$(dirname "$0")/../.." && pwd)

"$root/scripts/wine-prefix.sh" init "$prefix"
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ ! -f "$prefix/.sv-dialog-ready" ]; then
  mkdir -p "$prefix/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/"
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.sv-dialog-ready"
fi

n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
i=0
while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do
  sleep 0.05
  i=$((i + 1))
done
export DISPLAY=":$n"

set +e
if [ "$1" = "--sh" ]; then
  shift
  sh "$@"
else
  wine "$@"
fi
rc=$?
set -e
exit $rc
