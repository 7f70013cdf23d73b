#!/usr/bin/env bash
# The main job, start to end: set up, build the tool, make a short WAVE tone of our own, wrap it
# into a ._xsnd file, unwrap it again, and say in one line whether the round trip was exact.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native --target xsndconv -j"$jobs" >/dev/null
tool="$PWD/build/native/converter/xsndconv"

work=$(mktemp -d "${TMPDIR:-/tmp}/xsndconv-sample.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 samples/make_tone.py "$work/tone.wav"
cp "$work/tone.wav" "$work/original.wav"

# The tool prints nothing on success; anything it prints is its error line.
"$tool" "$work/tone.wav" </dev/null
rm "$work/tone.wav"
"$tool" "$work/tone._xsnd" </dev/null

size=$(wc -c <"$work/original.wav")
wrapped=$(wc -c <"$work/tone._xsnd")
if cmp -s "$work/original.wav" "$work/tone.wav"; then
  echo "round trip OK: tone.wav -> tone._xsnd ($wrapped bytes) -> tone.wav, $size bytes identical"
else
  echo "round trip FAILED: the unwrapped tone.wav differs from the $size-byte original" >&2
  exit 1
fi
