#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: plain, then under
# AddressSanitizer + UndefinedBehaviorSanitizer. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
status=0
for preset in default asan; do
  echo "== build ($preset)"
  bash scripts/build.sh "$preset"
  echo "== tests ($preset)"
  if ! ctest --preset "$preset" -j"$(nproc)" --timeout 300; then
    status=1
  fi
done
if [ "$status" -ne 0 ]; then
  echo "tests failed" >&2
fi
exit "$status"
