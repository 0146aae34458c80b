#!/usr/bin/env bash
# Builds Calvora and opens it with a simulated meter: calvora-sim serves a pseudo-terminal that behaves
# like the wireless receiver, and the program lists it in the Instrument bar. Double-click "Multimeter"
# to connect. Without a display the program runs under Xvfb and a screenshot is saved instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --demo

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DCALVORA_BUILD_BENCH=OFF
cmake --build "$build" --target calvora calvora-sim calvora-cli

device="${XDG_RUNTIME_DIR:-/tmp}/calvora-demo-meter"
"$build/tools/sim/calvora-sim" --rate 3 --waveform sine --amplitude 4000 --offset 12000 --period 40 \
  --link "$device" > /dev/null &
simulator=$!
cleanup() {
  kill "$simulator" 2>/dev/null || true
  [[ -n "${xvfb:-}" ]] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [[ -e "$device" ]] && break; sleep 0.1; done

echo "Simulated meter on $device. In Calvora: double-click \"Multimeter\" in the Instrument bar,"
echo "then Instrument > Real Time Chart Recording. Send a stored log with: kill -USR1 $simulator"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  "$build/app/calvora" --port "$device"
else
  echo "No display: running under Xvfb for 10 seconds and saving a screenshot."
  Xvfb :87 -screen 0 1280x800x24 >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
  DISPLAY=:87 "$build/app/calvora" --port "$device" &
  program=$!
  sleep 8
  DISPLAY=:87 import -window root "$build/demo.png" && echo "Screenshot: $build/demo.png"
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
fi
