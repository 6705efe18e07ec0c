#!/usr/bin/env bash
# Soak: a long run of 50 doubles per step through the host emulator, which
# samples its own memory and handles before, once a second during, and after
# the run (svhost run --resources); from the first sample taken while the run
# is under way to the last, handles must not change and memory may grow by
# at most 1 MB.
#
#   scripts/soak.sh [STEPS]           the native plug-in, default 10,000,000
#                                     steps (resident memory, descriptors),
#                                     then a shorter run under valgrind
#                                     memcheck (no leak, no error)
#   scripts/soak.sh --wine [STEPS]    the DLL in svhost.exe under Wine, default
#                                     200,000 steps (about 20 s; 1,000,000 or
#                                     more for a long run): private bytes and
#                                     handles
#
# Both need their build (native preset; --wine also the win32 preset).
set -euo pipefail
cd "$(dirname "$0")/.."

kGrowthLimitKb=1024
kDeadlineSeconds=120  # bounds a failure only: generous for a loaded machine

# start_receiver WORK: a receiver on an ephemeral loopback port that just
# counts, ended on exit; sets $port once it is listening.
start_receiver() {
  local work=$1
  rm -f "$work/port"
  build/native/tools/udpsv-recv --port 0 --port-file "$work/port" --quiet \
    >/dev/null 2>"$work/recv.log" &
  receiver=$!
  trap 'kill $receiver 2>/dev/null || true' EXIT
  local deadline=$(($(date +%s) + kDeadlineSeconds))
  # The receiver writes the file whole (a rename), so any content is the port.
  until [ -s "$work/port" ]; do
    if ! kill -0 $receiver 2>/dev/null || [ "$(date +%s)" -ge $deadline ]; then
      echo "soak: the receiver wrote no port file within $kDeadlineSeconds s; it said:"
      cat "$work/recv.log"
      exit 1
    fi
    sleep 0.05
  done
  port=$(cat "$work/port")
}

# judge RUN_LOG STATUS STEPS WHAT WHERE: the run's summary and its samples.
judge() {
  local log=$1 status=$2 steps=$3 what=$4 where=$5
  grep -v "^resources:    running" "$log"
  local samples first last growth memory handles
  samples=$(grep -c "^resources:    running" "$log" || true)
  first=$(grep -m1 "^resources:    running" "$log" || true)
  last=$(grep "^resources:    running" "$log" | tail -n 1 || true)
  echo "first sample while running: ${first#resources:    running  }"
  echo "last sample while running:  ${last#resources:    running  }"
  if [ "$status" -ne 0 ]; then echo "soak: the run failed"; exit 1; fi
  growth=$(sed -n 's/^resources:    growth while running: private \([-+0-9]*\) kB, handles \([-+0-9]*\).*/\1 \2/p' "$log")
  [ -n "$growth" ] || { echo "soak: no samples while running ($samples)"; exit 1; }
  read -r memory handles <<<"$growth"
  if [ "$handles" -ne 0 ]; then echo "soak: the handle count changed by $handles while running"; exit 1; fi
  if [ "$memory" -gt $kGrowthLimitKb ]; then echo "soak: $what grew by ${memory} kB"; exit 1; fi
  echo "soak$where: flat over $steps steps ($samples samples: $what ${memory} kB, handles ${handles})"
}

signal="sine:amp=100,freq=3,phase-step=7"

if [ "${1:-}" = "--wine" ]; then
  steps=${2:-200000}
  work=build/soak-wine
  mkdir -p "$work"
  [ -x build/native/tools/udpsv-recv ] || { echo "build the native preset first" >&2; exit 2; }
  [ -f build/win32/bin/svhost.exe ] || { echo "build the win32 preset first" >&2; exit 2; }
  svhost() { scripts/wine-prefix.sh run build/win32/wineprefix build/win32/bin/svhost.exe "$@"; }
  start_receiver "$work"
  svhost new "$work/soak.model" --port "$port" --inputs 50 --type double >/dev/null
  status=0
  svhost run build/win32/bin/UDPSV2Simulink.dll "$work/soak.model" --steps "$steps" --quiet \
    --resources --signal "$signal" >"$work/run.log" 2>&1 || status=$?
  judge "$work/run.log" $status "$steps" "private bytes" " under Wine"
  exit 0
fi

steps=${1:-10000000}
bin=build/native
work=build/soak
mkdir -p "$work"
[ -x $bin/host/svhost ] || { echo "build the native preset first" >&2; exit 2; }

start_receiver "$work"
$bin/host/svhost new "$work/soak.model" --host 127.0.0.1 --port "$port" --inputs 50 --type double \
  --plugin $bin/plugin/UDPSV2Simulink.so >/dev/null
status=0
$bin/host/svhost run $bin/plugin/UDPSV2Simulink.so "$work/soak.model" --steps "$steps" --quiet \
  --resources --signal "$signal" >"$work/run.log" 2>&1 || status=$?
judge "$work/run.log" $status "$steps" "resident memory" ""

if command -v valgrind >/dev/null; then
  echo "== valgrind memcheck, 20000 steps"
  valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=1 \
    $bin/host/svhost run $bin/plugin/UDPSV2Simulink.so "$work/soak.model" --steps 20000 --quiet \
    >"$work/valgrind.log" 2>&1 || { cat "$work/valgrind.log"; echo "valgrind: errors"; exit 1; }
  tail -n 8 "$work/valgrind.log"
  echo "valgrind: no leak, no error"
fi
