#!/usr/bin/env bash
# 32-bit build (g++ -m32, warnings as errors, GoogleTest built from Debian's sources) and every
# CTest test of it, each run under qemu-i386. The string heap's layouts are exercised here with
# 4-byte addresses.
#
# Output: build/m32 (another folder with M32_BUILD_DIR=folder).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${M32_BUILD_DIR:-build/m32}
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-m32.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVE_WERROR=ON -DVE_GTEST_FROM_SOURCE=ON >/dev/null
cmake --build "$out" -j"$jobs"
(cd "$out" && ctest --output-on-failure -j"$jobs" < /dev/null)
