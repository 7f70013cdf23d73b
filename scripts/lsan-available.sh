#!/usr/bin/env bash
# Prints 1 when LeakSanitizer can run here, else 0 and a SKIPPED line on standard error.
# LeakSanitizer stops the process under ptrace to scan it; where that is not allowed (some
# containers) every run would end in its fatal error, so leaks are then not checked, and said so.
set -uo pipefail
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
echo 'int main() { return 0; }' >"$probe_dir/probe.cpp"
if clang++ -fsanitize=address "$probe_dir/probe.cpp" -o "$probe_dir/probe" 2>/dev/null &&
  ! ASAN_OPTIONS=detect_leaks=1 "$probe_dir/probe" >/dev/null 2>&1; then
  echo "SKIPPED: leak checks: LeakSanitizer cannot run on this machine" >&2
  echo 0
else
  echo 1
fi
