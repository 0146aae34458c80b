#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer and runs
# each for SECONDS (default 60) over its committed seeds. Fails on any crash; the crashing input is left
# in build/fuzz/artifacts/ and belongs in tests/hardening/crashes/<target>/ as a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${CALVORA_FUZZ_BUILD:-build/fuzz}
targets=(stream record_file settings_file journal)

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCALVORA_BUILD_FUZZ=ON -DCALVORA_SANITIZE=address,undefined -DCALVORA_WERROR=ON \
  -DCALVORA_BUILD_GUI=OFF -DCALVORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_seeds "${targets[@]/#/fuzz_}"

# The seeds are rebuilt from the byte layouts; a change shows up in git as a changed corpus.
"$build/fuzz/fuzz_seeds" fuzz/corpus

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/artifacts"
# One target per processor at a time: the fuzzers are single-threaded.
parallel=$(nproc 2>/dev/null || echo 1)
run_target() {
  local target=$1
  # New inputs go to a scratch corpus: the committed seeds stay small.
  local work="$build/corpus/$target"
  mkdir -p "$work"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "$work" "fuzz/corpus/$target" \
    2>"$build/fuzz_$target.log"
}
status=0
pending=("${targets[@]}")
while ((${#pending[@]})); do
  batch=("${pending[@]:0:parallel}")
  pending=("${pending[@]:parallel}")
  pids=()
  for target in "${batch[@]}"; do
    echo "== fuzz_$target for ${seconds}s"
    run_target "$target" &
    pids+=($!)
  done
  for i in "${!batch[@]}"; do
    target=${batch[$i]}
    if ! wait "${pids[$i]}"; then
      echo "fuzz_$target FAILED: see $build/fuzz_$target.log and $build/artifacts/" >&2
      tail -40 "$build/fuzz_$target.log" >&2
      status=1
    fi
    grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb' "$build/fuzz_$target.log" || true
  done
done
exit $status
