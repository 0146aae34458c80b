#!/usr/bin/env bash
# Builds Calvora and opens it with a simulated meter: calvora-sim serves a pseudo-terminal that behaves
# like the wireless receiver, and the program lists it in the Instrument bar. Double-click "Multimeter"
# to connect. Without a display the program runs under Xvfb, connects by a scripted double-click and a
# screenshot of the live panel is saved instead.
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
program=""
xvfb=""
cleanup() {
  [[ -n "$program" ]] && kill "$program" 2>/dev/null || true
  kill "$simulator" 2>/dev/null || true
  [[ -n "$xvfb" ]] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [[ -e "$device" ]] && break; sleep 0.1; done
if [[ ! -e "$device" ]]; then
  echo "calvora-sim did not start." >&2
  exit 1
fi

echo "Simulated meter on $device. In Calvora: double-click \"Multimeter\" in the Instrument bar,"
echo "then Instrument > Real Time Chart Recording. Send a stored log with: kill -USR1 $simulator"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  "$build/app/calvora" --port "$device"
  exit 0
fi

echo "No display: running under Xvfb and saving a screenshot."
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [[ -s "$displayfile" ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$displayfile")"
rm -f "$displayfile"
"$build/app/calvora" --port "$device" &
program=$!
screenshot="$build/demo.png"
if command -v xdotool >/dev/null; then
  # The receiver is the first item of the tree at the top of the Instrument bar (the window has no
  # manager here, so it sits at the screen's corner).
  window=$(xdotool search --sync --limit 1 --name '^Calvora$')
  sleep 1
  xdotool mousemove --window "$window" 86 111 click --repeat 2 --delay 80 1
  sleep 4
else
  echo "xdotool is missing: the screenshot shows the receiver list, not yet connected."
  sleep 6
fi
import -window root "$screenshot" && echo "Screenshot: $screenshot"
