#!/usr/bin/env bash
# Builds the link, engine, hardening and publishing tests under ThreadSanitizer and runs them; any report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${CALVORA_TSAN_BUILD:-build/tsan}
suites=(link_tests engine_tests hardening_tests publish_tests)

CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCALVORA_SANITIZE=thread -DCALVORA_WERROR=ON -DCALVORA_BUILD_GUI=OFF -DCALVORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target calvora-sim calvora-cli "${suites[@]}"

export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:history_size=4"
export CALVORA_BUILD_DIR=$PWD/$build
# The soak's memory bound means nothing under a sanitizer's allocator; it runs in scripts/soak.sh.
filter='-Soak.*'
status=0
for suite in "${suites[@]}"; do
  binary=$(find "$build/tests" -name "$suite" -type f -perm -u+x | head -1)
  echo "== $suite under ThreadSanitizer"
  if ! "$binary" --gtest_filter="$filter" >"$build/$suite.log" 2>&1 || grep -q "ThreadSanitizer" "$build/$suite.log"; then
    echo "$suite FAILED (see $build/$suite.log)" >&2
    grep -A30 "ThreadSanitizer\|^\[  FAILED\|: Failure$" "$build/$suite.log" | head -80 >&2
    status=1
  else
    tail -1 "$build/$suite.log"
  fi
done
exit $status
