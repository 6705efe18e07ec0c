#!/bin/sh
# Runs a Windows program under Wine on a private Xvfb display.
#
#   run-with-display.sh PREFIX EXE ARGS...
#   run-with-display.sh PREFIX --sh SCRIPT ARGS...   (SCRIPT runs wine itself)
#   SV_DPI=144 run-with-display.sh ...                (the display's DPI, default 96)
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

# The DPI of the run (SV_DPI, default 96), as a user sets it in Windows; the
# prefix keeps the last one set, so a run sets it only when it differs.
dpi=${SV_DPI:-96}
if [ "$(cat "$prefix/.sv-dpi" 2>/dev/null || echo 96)" != "$dpi" ]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  wineserver -w
  echo "$dpi" >"$prefix/.sv-dpi"
fi

# Xvfb picks a free display itself (its lock file is taken atomically, so
# parallel runs cannot pick the same one) and writes the number to fd 3 once
# it accepts connections.
work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# A deadline that only bounds a failure: generous for a loaded machine.
limit=120
deadline=$(($(date +%s) + limit))
until grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null && [ -z "$(tail -c 1 "$work/display")" ]; do
  if ! kill -0 "$xvfb" 2>/dev/null || [ "$(date +%s)" -ge "$deadline" ]; then
    echo "run-with-display: Xvfb reported no display within $limit s; it said:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
  sleep 0.05
done
export DISPLAY=":$(cat "$work/display")"

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
