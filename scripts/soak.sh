#!/usr/bin/env bash
# Soak: a long-running engine against calvora-sim at its highest rate with garbage, split frames and
# dropped bytes, repeated unplug/replug cycles and downloads in the middle of recordings. Built without
# sanitizers so resident memory means what it says; fails if the engine stopped or memory grew.
# Usage: scripts/soak.sh [SECONDS] (default 600). CALVORA_SOAK_RATE overrides the rate (10000).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=${CALVORA_SOAK_BUILD:-build/soak}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALVORA_WERROR=ON \
  -DCALVORA_BUILD_GUI=OFF -DCALVORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target calvora-sim calvora-cli hardening_tests

export CALVORA_BUILD_DIR=$PWD/$build
export CALVORA_SOAK_SECONDS=$seconds
exec "$build/tests/hardening/hardening_tests" --gtest_filter='Soak.*'
