#!/usr/bin/env bash
# Every fuzz target of fuzz/ built with clang's libFuzzer (under AddressSanitizer and
# UndefinedBehaviorSanitizer) and run for a bounded time from its seed corpus. A crash, a
# sanitizer report, a leak, a model mismatch (an abort), a hang or running out of memory fails
# the stage; the input that did it is kept in build/fuzz/fuzz/findings/<target>/.
#
# FUZZ_SECONDS sets the time per target (default 60); targets run two at a time. FUZZ_BUILD_DIR
# builds elsewhere than build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build=${FUZZ_BUILD_DIR:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=(string filestream wav_to_xsnd xsnd_to_wav stringheap)

CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVE_FUZZ=ON -DVE_BUILD_TESTS=OFF \
  -DVE_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs" --target make_fuzz_seeds "${targets[@]/#/fuzz_}"

fuzz="$build/fuzz"
rm -rf "$fuzz/seeds" "$fuzz/corpus" "$fuzz/findings" "$fuzz/logs"
"$fuzz/make_fuzz_seeds" "$fuzz/seeds"
mkdir -p "$fuzz/logs"

leaks=$(bash scripts/lsan-available.sh)

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=$leaks:check_initialization_order=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Inputs longer than one window of the file stream (8191 bytes) reach the conversions' window
# moves; the operation sequences need no more than the default.
max_len() {
  case "$1" in
    wav_to_xsnd | xsnd_to_wav) echo 20000 ;;
    *) echo 4096 ;;
  esac
}

run_one() {
  local target=$1
  mkdir -p "$fuzz/corpus/$target" "$fuzz/findings/$target"
  # The new inputs go to corpus/<target>; the seeds are only read.
  "$fuzz/fuzz_$target" "$fuzz/corpus/$target" "$fuzz/seeds/$target" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -max_len="$(max_len "$target")" \
    -artifact_prefix="$fuzz/findings/$target/" -print_final_stats=1 \
    >"$fuzz/logs/$target.log" 2>&1
}

# Two at a time: each libFuzzer process uses one core.
declare -A status
pending=("${targets[@]}")
while [ ${#pending[@]} -gt 0 ]; do
  batch=("${pending[@]:0:2}")
  pending=("${pending[@]:2}")
  pids=()
  for target in "${batch[@]}"; do
    run_one "$target" &
    pids+=($!)
  done
  for i in "${!batch[@]}"; do
    if wait "${pids[$i]}"; then status[${batch[$i]}]=0; else status[${batch[$i]}]=$?; fi
  done
done

failed=0
for target in "${targets[@]}"; do
  log="$fuzz/logs/$target.log"
  runs=$(grep -o '^Done [0-9]* runs' "$log" | grep -o '[0-9]*' || true)
  if [ "${status[$target]}" = 0 ] && [ -n "$runs" ]; then
    echo "fuzz_$target: $runs executions in ${seconds} s, no finding"
  else
    failed=1
    echo "fuzz_$target: FAILED (exit status ${status[$target]}); findings in $fuzz/findings/$target/"
    grep -E 'ERROR|model mismatch|SUMMARY|Test unit written|==[0-9]+==' "$log" | head -n 20 || true
    tail -n 40 "$log"
  fi
done
exit $failed
