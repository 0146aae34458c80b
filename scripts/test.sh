#!/usr/bin/env bash
# The whole test suite, as CI runs it:
#   1. the link, engine and hardening tests under ThreadSanitizer;
#   2. every libFuzzer target for CALVORA_FUZZ_SECONDS (default 40) under ASan and UBSan;
#   3. the installed tree, the desktop integration files, the man pages and the .deb;
#   4. every test under AddressSanitizer and UndefinedBehaviorSanitizer with warnings as errors (last, so its
#      summary closes the run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "== ThreadSanitizer"
bash scripts/tsan.sh

echo "== Fuzzing"
bash scripts/fuzz.sh "${CALVORA_FUZZ_SECONDS:-40}"

echo "== Install tree and package"
bash scripts/check-install.sh build/package

echo "== Test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
build=build/test-asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCALVORA_SANITIZE=address,undefined -DCALVORA_WERROR=ON
cmake --build "$build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2
