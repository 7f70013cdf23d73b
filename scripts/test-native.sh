#!/usr/bin/env bash
# Native build (g++ and clang, warnings as errors) and every CTest test of the native g++ build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVE_WERROR=ON >/dev/null
cmake --build build/native -j"$jobs"
(cd build/native && ctest --output-on-failure -j"$jobs" < /dev/null)

# clang only has to build warning-clean; its tests run in the sanitizer configuration.
CXX=clang++ cmake -S . -B build/clang -DCMAKE_BUILD_TYPE=Debug -DVE_WERROR=ON >/dev/null
cmake --build build/clang -j"$jobs"
