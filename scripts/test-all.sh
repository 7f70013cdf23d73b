#!/usr/bin/env bash
# Every test of the project, in every configuration this machine can run. Exit status is 0 only
# when all of them pass.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

for stage in native m32 windows sanitize fuzz; do
  script="scripts/test-$stage.sh"
  [ -f "$script" ] || continue
  echo "=== $stage ==="
  bash "$script"
done
echo "=== all tests passed ==="
