#!/usr/bin/env bash
# Demo: the plug-in sends live sample frames to the receiver, which decodes
# them on screen as the Simulink side would.
#
#   scripts/demo.sh [--wine] [--steps N] [--period S] [--inputs N] [--type T]
#
# Natively the Linux build of the plug-in runs in the host emulator; with
# --wine the real UDPSV2Simulink.dll runs in svhost.exe under Wine and sends
# to the same Linux receiver over loopback.
set -euo pipefail
cd "$(dirname "$0")/.."

wine=0
steps=40
period=0.1
inputs=4
type=double
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wine=1 ;;
    --steps) steps=$2; shift ;;
    --period) period=$2; shift ;;
    --inputs) inputs=$2; shift ;;
    --type) type=$2; shift ;;
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

if [ $wine -eq 1 ]; then scripts/install-deps.sh all; else scripts/install-deps.sh native; fi

echo "== building"
cmake --preset native >/dev/null
cmake --build --preset native --target UDPSV2Simulink svhost udpsv-recv >/dev/null
if [ $wine -eq 1 ]; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 --target UDPSV2Simulink svhost >/dev/null
  scripts/wine-prefix.sh init build/win32/wineprefix
fi

work=build/demo
mkdir -p "$work"
rm -f "$work/port"

# The receiver takes a free port on 127.0.0.1 and says which.
build/native/tools/udpsv-recv --port 0 --port-file "$work/port" --type "$type" \
  --inputs "$inputs" --count $((steps + 1)) --idle 10 --csv "$work/frames.csv" &
receiver=$!
trap 'kill $receiver 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")

signals=(--signal "sine:amp=10,freq=0.5,phase-step=90")
if [ $wine -eq 1 ]; then
  host=(scripts/wine-prefix.sh run build/win32/wineprefix build/win32/bin/svhost.exe)
  plugin=build/win32/bin/UDPSV2Simulink.dll
  model='demo.model'
  model_arg="$work/$model"
else
  host=(build/native/host/svhost)
  plugin=build/native/plugin/UDPSV2Simulink.so
  model_arg="$work/demo.model"
fi

echo "== model: $inputs x $type to 127.0.0.1:$port"
"${host[@]}" new "$model_arg" --host 127.0.0.1 --port "$port" --inputs "$inputs" --type "$type" \
  --plugin "$plugin"
echo "== running $steps steps every $period s (the run start sends one frame more)"
"${host[@]}" run "$plugin" "$model_arg" --steps "$steps" --period "$period" "${signals[@]}"
wait $receiver || true
trap - EXIT
echo "== frames as CSV: $work/frames.csv"
