#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (run as root).
# Packages already present are left alone; without root or apt-get it only says what is missing.
set -euo pipefail

# libclang-rt-dev holds clang's sanitizer and libFuzzer runtimes, only recommended by clang.
packages=(cmake g++ clang libclang-rt-dev python3 googletest libgtest-dev libbenchmark-dev
          g++-multilib qemu-user g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64
          sox ffmpeg faketime time tmux)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  echo "install-deps: cannot install (${missing[*]}): not root or no apt-get" >&2
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
