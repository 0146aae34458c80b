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
# Each suite's result: its log's last line, or the failure and the sanitizer's report.
check() {
  local suite=$1 result=$2
  if [ "$result" -ne 0 ] || grep -q "ThreadSanitizer" "$build/$suite.log"; then
    echo "$suite FAILED (see $build/$suite.log)" >&2
    grep -A30 "ThreadSanitizer\|^\[  FAILED\|: Failure$" "$build/$suite.log" | head -80 >&2
    return 1
  fi
  tail -1 "$build/$suite.log"
}
run() {
  local binary
  binary=$(find "$build/tests" -name "$1" -type f -perm -u+x | head -1)
  "$binary" --gtest_filter="$filter" >"$build/$1.log" 2>&1
}
# The engine's suite spends most of its time waiting for readings paced in real time (one test streams 100
# a second for 20 s): it runs beside the other suites, which take one processor between them.
status=0
echo "== engine_tests under ThreadSanitizer, beside the others"
run engine_tests &
engine=$!
for suite in link_tests hardening_tests publish_tests; do
  echo "== $suite under ThreadSanitizer"
  result=0
  run "$suite" || result=$?
  check "$suite" "$result" || status=1
done
result=0
wait "$engine" || result=$?
check engine_tests "$result" || status=1
exit $status
