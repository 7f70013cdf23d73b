#!/usr/bin/env bash
# Every CTest test (unit, end-to-end, corpus replays) built with clang under AddressSanitizer
# and UndefinedBehaviorSanitizer. No report is recovered from: the first one ends the process
# with a non-zero status, which fails its test, and the end-to-end runner also fails a case whose
# run printed anything on standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build=${SANITIZE_BUILD_DIR:-build/sanitize}

CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DVE_SANITIZE=ON -DVE_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs"

leaks=$(bash scripts/lsan-available.sh)

# Leaks are reported at exit. The error chain's records and the string heap's chunks are kept
# until the process ends on purpose; they stay reachable through globals, so LeakSanitizer
# counts them as live, not leaked, and needs no suppressions.
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=$leaks:check_initialization_order=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd "$build" && ctest --output-on-failure -j"$jobs" < /dev/null)
