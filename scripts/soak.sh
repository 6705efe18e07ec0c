#!/usr/bin/env bash
# Soak: a long run of 50 doubles per step through the host emulator with the
# host process's memory sampled; it must stay flat.
#
#   scripts/soak.sh [STEPS]           the native plug-in, default 10,000,000
#                                     steps, resident memory sampled by this
#                                     script, then a shorter run under
#                                     valgrind memcheck (no leak, no error)
#   scripts/soak.sh --wine [STEPS]    the DLL in svhost.exe under Wine, default
#                                     200,000 steps (about 20 s; 1,000,000 or
#                                     more for a long run); svhost samples the
#                                     process's private bytes and handle count
#                                     before, once a second during, and after
#                                     the run: handles must not change while it
#                                     runs, private bytes grow by at most 1 MB
#
# Both need their build (native preset; --wine also the win32 preset).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--wine" ]; then
  steps=${2:-200000}
  work=build/soak-wine
  mkdir -p "$work"
  [ -x build/native/tools/udpsv-recv ] || { echo "build the native preset first" >&2; exit 2; }
  [ -f build/win32/bin/svhost.exe ] || { echo "build the win32 preset first" >&2; exit 2; }
  svhost() { scripts/wine-prefix.sh run build/win32/wineprefix build/win32/bin/svhost.exe "$@"; }
  rm -f "$work/port"
  build/native/tools/udpsv-recv --port 0 --port-file "$work/port" --quiet --idle 30 \
    >"$work/recv.out" 2>"$work/recv.log" &
  receiver=$!
  trap 'kill $receiver 2>/dev/null || true' EXIT
  for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
  svhost new "$work/soak.model" --port "$(cat "$work/port")" --inputs 50 --type double >/dev/null
  status=0
  svhost run build/win32/bin/UDPSV2Simulink.dll "$work/soak.model" --steps "$steps" --quiet \
    --resources --signal "sine:amp=100,freq=3,phase-step=7" >"$work/run.log" 2>&1 || status=$?
  grep -v "^resources:    running" "$work/run.log"
  samples=$(grep -c "^resources:    running" "$work/run.log" || true)
  first=$(grep -m1 "^resources:    running" "$work/run.log" || true)
  last=$(grep "^resources:    running" "$work/run.log" | tail -n 1 || true)
  echo "first sample while running: ${first#resources:    running  }"
  echo "last sample while running:  ${last#resources:    running  }"
  if [ $status -ne 0 ]; then echo "soak: the run failed"; exit 1; fi
  growth=$(sed -n 's/^resources:    growth while running: private \([-+0-9]*\) kB, handles \([-+0-9]*\).*/\1 \2/p' "$work/run.log")
  [ -n "$growth" ] || { echo "soak: no samples while running ($samples)"; exit 1; }
  read -r memory handles <<<"$growth"
  if [ "$handles" -ne 0 ]; then echo "soak: the handle count changed by $handles while running"; exit 1; fi
  if [ "$memory" -gt 1024 ]; then echo "soak: private bytes grew by ${memory} kB"; exit 1; fi
  echo "soak under Wine: flat over $steps steps ($samples samples: private ${memory} kB, handles ${handles})"
  exit 0
fi

steps=${1:-10000000}
bin=build/native
export UDPSV_REGISTRY_FILE="${UDPSV_REGISTRY_FILE:-$PWD/build/soak/registry.reg}"
work=build/soak
mkdir -p "$work"
[ -x $bin/host/svhost ] || { echo "build the native preset first" >&2; exit 2; }

# A receiver on an ephemeral loopback port that just counts.
rm -f "$work/port"
$bin/tools/udpsv-recv --port 0 --port-file "$work/port" --quiet --idle 20 >/dev/null 2>"$work/recv.log" &
receiver=$!
trap 'kill $receiver 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")

$bin/host/svhost new "$work/soak.model" --host 127.0.0.1 --port "$port" --inputs 50 --type double \
  --plugin $bin/plugin/UDPSV2Simulink.so >/dev/null

rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status" 2>/dev/null; }

$bin/host/svhost run $bin/plugin/UDPSV2Simulink.so "$work/soak.model" --steps "$steps" --quiet \
  --signal "sine:amp=100,freq=3,phase-step=7" >"$work/run.log" 2>&1 &
host=$!
sleep 2
first=$(rss $host)
last=$first
peak=$first
while kill -0 $host 2>/dev/null; do
  now=$(rss $host)
  if [ -n "$now" ]; then
    last=$now
    [ "$now" -gt "$peak" ] && peak=$now
  fi
  sleep 1
done
wait $host
status=$?
cat "$work/run.log"
echo "resident memory: ${first} kB after 2 s, ${last} kB at the end, ${peak} kB peak"
growth=$((last - first))
if [ $status -ne 0 ]; then echo "soak: the run failed"; exit 1; fi
if [ $growth -gt 1024 ]; then echo "soak: resident memory grew by ${growth} kB"; exit 1; fi
echo "soak: flat (growth ${growth} kB over ${steps} steps)"

if command -v valgrind >/dev/null; then
  echo "== valgrind memcheck, 20000 steps"
  valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=1 \
    $bin/host/svhost run $bin/plugin/UDPSV2Simulink.so "$work/soak.model" --steps 20000 --quiet \
    >"$work/valgrind.log" 2>&1 || { cat "$work/valgrind.log"; echo "valgrind: errors"; exit 1; }
  tail -n 8 "$work/valgrind.log"
  echo "valgrind: no leak, no error"
fi
