#!/usr/bin/env bash
# The whole test suite, as CI runs it:
#   0. every C++ source file laid out as .clang-format says;
#   1. the link, engine, hardening and publishing tests under ThreadSanitizer;
#   2. every libFuzzer target for CALVORA_FUZZ_SECONDS (default 30) under ASan and UBSan;
#   3. the installed tree, the desktop integration files, the man pages and the .deb, from a Release build made
#      with GCC and warnings as errors (the benchmarks are built there too, in the configuration they measure);
#   4. every test under AddressSanitizer and UndefinedBehaviorSanitizer, built with clang and warnings as errors
#      (last, so its summary closes the run). Line tables instead of full debug information keep the sanitizers'
#      reports pointing at file and line at a fraction of the build time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Each stage says how long the one before it took, so that a slow stage shows in CI's log.
stage_done() {
  if [ -n "${stage_name:-}" ]; then echo "-- ${stage_name}: $((SECONDS - stage_start)) s"; fi
}
stage() {
  stage_done
  stage_name=$1
  stage_start=$SECONDS
  echo "== $1"
}

stage "Source layout (clang-format)"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z '*.h' '*.cpp'
else
  find . -path ./build -prune -o \( -name '*.h' -o -name '*.cpp' \) -print0
fi | xargs -0 clang-format --dry-run --Werror

stage "ThreadSanitizer"
bash scripts/tsan.sh

stage "Fuzzing"
bash scripts/fuzz.sh "${CALVORA_FUZZ_SECONDS:-30}"

stage "Install tree and package"
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCALVORA_BUILD_BENCH=ON \
  -DCALVORA_WERROR=ON >/dev/null
bash scripts/check-install.sh build/package

stage "Test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
build=build/test-asan
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
  -DCALVORA_SANITIZE=address,undefined -DCALVORA_WERROR=ON -DCALVORA_BUILD_BENCH=OFF
cmake --build "$build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2
stage_done
echo "-- whole suite: ${SECONDS} s"
