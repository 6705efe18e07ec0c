#!/usr/bin/env bash
# Soak: millions of steps of 50 doubles through the host emulator against the
# native plug-in, with the resident memory of the host process sampled at the
# start and at the end (it must stay flat), then a shorter run under valgrind
# memcheck, which must find no leak and no error in the plug-in.
#
#   scripts/soak.sh [STEPS]     (default 10000000; needs the native build)
set -euo pipefail
cd "$(dirname "$0")/.."
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
