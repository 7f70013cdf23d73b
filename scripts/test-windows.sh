#!/usr/bin/env bash
# Windows: the tool cross-built with mingw-w64 for x86_64 and i686 (warnings as errors, linked
# statically), then, under Wine, the unit tests and the shared end-to-end table run against the
# x86_64 .exe with Windows paths (Z:\...). Wine here has no 32-bit part, so the i686 .exe is only
# built. Whatever cannot run on this machine is named in a SKIPPED line; the exit status is then
# still 0, and it is non-zero only when something that ran failed.
#
# Outputs: build/win64/converter/xsndconv.exe and build/win32/converter/xsndconv.exe (another
# folder than build/ with WIN_BUILD_DIR=folder).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${WIN_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS

skipped=()
skip() {
  skipped+=("$*")
  echo "test-windows: SKIPPED: $*"
}
stage() { echo "--- $* ($((SECONDS - started)) s)"; }

have_mingw() { command -v "$1-w64-mingw32-g++" >/dev/null 2>&1 || command -v "$1-w64-mingw32-g++-posix" >/dev/null 2>&1; }

# Debian's wine64 package puts the 64-bit loader outside PATH; the plain `wine` wrapper needs a
# 32-bit part that this machine does not have.
wine=""
for candidate in "$(dpkg -L wine64 2>/dev/null | grep -m1 '/wine64$' || true)" "$(command -v wine64 || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then
    wine=$candidate
    break
  fi
done
wineserver=""
if [ -n "$wine" ]; then
  for candidate in "$(dirname "$wine")/wineserver64" "$(dirname "$wine")/wineserver" "$(command -v wineserver || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      wineserver=$candidate
      break
    fi
  done
fi

have_gtest_sources=0
[ -f /usr/src/googletest/CMakeLists.txt ] && have_gtest_sources=1

configure() { # build-dir toolchain-arch extra-cmake-args...
  local dir=$1 arch=$2
  shift 2
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVE_WERROR=ON "$@" >/dev/null
}

# --- the 32-bit .exe: built, not run ------------------------------------------------------------
if have_mingw i686; then
  stage "$out/win32: i686-w64-mingw32"
  configure "$out/win32" i686 -DVE_BUILD_TESTS=OFF
  cmake --build "$out/win32" --target xsndconv -j"$jobs"
else
  skip "the 32-bit Windows build: i686-w64-mingw32-g++ is not installed (package g++-mingw-w64-i686)"
fi

# --- the 64-bit .exe, its unit tests, and both under Wine ---------------------------------------
if ! have_mingw x86_64; then
  skip "the 64-bit Windows build, its unit tests and the Wine runs: x86_64-w64-mingw32-g++ is not installed (package g++-mingw-w64-x86-64)"
else
  stage "$out/win64: x86_64-w64-mingw32"
  args=()
  if [ "$have_gtest_sources" = 1 ]; then
    args+=(-DVE_BUILD_TESTS=ON -DVE_GTEST_FROM_SOURCE=ON)
  else
    args+=(-DVE_BUILD_TESTS=OFF)
    skip "the Windows unit tests: no GoogleTest sources in /usr/src/googletest (package googletest)"
  fi
  [ -n "$wine" ] && args+=(-DCMAKE_CROSSCOMPILING_EMULATOR="$wine")
  configure "$out/win64" x86_64 "${args[@]}"
  cmake --build "$out/win64" -j"$jobs"

  if [ -z "$wine" ]; then
    skip "every run under Wine (unit tests and end-to-end table): the wine64 loader is not installed (package wine64)"
  else
    # A prefix of our own, made once; the first start of Wine fills it (several seconds). No
    # Mono or Gecko: nothing here needs them, and Wine must not try to fetch them.
    export WINEPREFIX="$root/$out/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # A server of this prefix left running by an interrupted earlier run would keep the old one.
    [ -n "$wineserver" ] && { "$wineserver" -k 2>/dev/null || true; }
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      stage "making the Wine prefix $WINEPREFIX"
      "$wine" wineboot --init >/dev/null 2>&1 || true
    fi
    # One wine server for all the runs below (each start of a new one costs about a second),
    # ended when this script ends.
    if [ -n "$wineserver" ]; then
      "$wineserver" -w
      "$wineserver" -p
      trap '"$wineserver" -k 2>/dev/null || true' EXIT
    fi
    # The first program started also starts Wine's own services, which keep its standard output
    # open: started here, they hold /dev/null instead of a pipe that ctest would wait on forever.
    "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1

    if [ "$have_gtest_sources" = 1 ]; then
      stage "unit tests under Wine"
      (cd "$out/win64" && ctest --output-on-failure -j"$jobs" </dev/null)
    fi

    stage "end-to-end table under Wine, Windows paths"
    python3 tests/e2e/run_e2e.py --exe "$out/win64"/converter/xsndconv.exe --wine "$wine"
  fi
fi

stage "done"
if [ ${#skipped[@]} -gt 0 ]; then
  echo "test-windows: passed, but SKIPPED:"
  printf '  - %s\n' "${skipped[@]}"
else
  echo "test-windows: all Windows builds and runs passed"
fi
