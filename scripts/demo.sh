#!/usr/bin/env bash
# Builds Calvora and shows it working on a capture of simulated meter traffic.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --demo
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
"$build/tools/cli/calvora-cli" --help
