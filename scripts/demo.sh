#!/usr/bin/env bash
# Demo: the plug-in sends live sample frames to the receiver, which decodes
# them on screen as the Simulink side would.
#
#   scripts/demo.sh [--wine] [--web] [--steps N] [--period S] [--inputs N] [--type T]
#
# Natively the Linux build of the plug-in runs in the host emulator; with
# --wine the real UDPSV2Simulink.dll runs in svhost.exe under Wine and sends
# to the same Linux receiver over loopback. With --web the receiver also
# serves its live plot on 127.0.0.1 and the demo opens it in a browser.
set -euo pipefail
cd "$(dirname "$0")/.."

wine=0
web=0
steps=40
period=0.1
inputs=4
type=double
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wine=1 ;;
    --web) web=1 ;;
    --steps) steps=$2; shift ;;
    --period) period=$2; shift ;;
    --inputs) inputs=$2; shift ;;
    --type) type=$2; shift ;;
    -h | --help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

# Only what the demo needs; scripts/test-all.sh installs the full set.
if [ $wine -eq 1 ]; then scripts/install-deps.sh demo-wine; else scripts/install-deps.sh demo; fi

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
rm -f "$work/port" "$work/http.port"

# The receiver takes a free port on 127.0.0.1 and says which.
recv_args=(--port 0 --port-file "$work/port" --type "$type" --inputs "$inputs" --csv "$work/frames.csv")
if [ $web -eq 1 ]; then
  # The page stays up until Enter, so the plot can be looked at after the run.
  recv_args+=(--http 127.0.0.1:0 --http-port-file "$work/http.port" --quiet)
else
  recv_args+=(--count $((steps + 1)) --idle 10)
fi
build/native/tools/udpsv-recv "${recv_args[@]}" &
receiver=$!
trap 'kill $receiver 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")
if [ $web -eq 1 ]; then
  for _ in $(seq 100); do [ -s "$work/http.port" ] && break; sleep 0.05; done
  url="http://127.0.0.1:$(cat "$work/http.port")/"
  echo "== live plot: $url"
  if command -v xdg-open >/dev/null && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    xdg-open "$url" >/dev/null 2>&1 || true
  fi
  sleep 1  # a moment for the page to connect before the first frame
fi

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
if [ $web -eq 1 ]; then
  read -r -p "== press Enter to stop the receiver (the page stays at $url until then) " _ || true
  kill -INT $receiver 2>/dev/null || true
fi
wait $receiver || true
trap - EXIT
echo "== frames as CSV: $work/frames.csv"
