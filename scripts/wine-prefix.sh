#!/bin/sh
# A throwaway Wine prefix for the win32 build's tests and demo.
#
#   wine-prefix.sh init  PREFIX            create PREFIX once (wineboot -i)
#   wine-prefix.sh start PREFIX            init, then keep a wineserver up
#   wine-prefix.sh stop  PREFIX            end that wineserver
#   wine-prefix.sh run   PREFIX EXE ARGS   run a Windows program in PREFIX
#
# The first use creates the prefix (about 10 s); later runs reuse it. A
# persistent wineserver makes each program start in a fraction of a second.
set -eu

cmd=${1:?command}
prefix=${2:?prefix}
shift 2

case "$prefix" in
  /*) ;;
  *) prefix="$(pwd)/$prefix" ;;
esac

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts: nothing here needs .NET or HTML.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset WINEARCH || true

ready="$prefix/.sv-ready"

init() {
  [ -f "$ready" ] && return 0
  mkdir -p "$(dirname "$prefix")"
  # Parallel test processes may all find the prefix missing: one builds it.
  (
    flock 9
    if [ ! -f "$ready" ]; then
      wineboot -i >/dev/null 2>&1
      # Let the server write the new registry out before anyone uses it.
      wineserver -w
      touch "$ready"
    fi
  ) 9>"$prefix.lock"
}

case "$cmd" in
  init)
    init
    ;;
  start)
    init
    # Stays up until "stop"; the 60 s limit ends it should the run be cut off.
    # Its own output goes nowhere, or the caller would wait for it to close.
    wineserver -p60 </dev/null >/dev/null 2>&1
    # Start the prefix's own services now, detached from any test's output:
    # started by a test program instead, they would hold its output pipe
    # open until the server ends.
    wineboot </dev/null >/dev/null 2>&1
    ;;
  stop)
    [ -f "$ready" ] && wineserver -k >/dev/null 2>&1 || true
    ;;
  run)
    init
    exec wine "$@"
    ;;
  *)
    echo "usage: $0 init|start|stop|run PREFIX [EXE ARGS...]" >&2
    exit 2
    ;;
esac
