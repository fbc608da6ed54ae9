#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang-14, ASan + UBSan) and runs each for
# a number of seconds, or only the one named:
#   bash scripts/fuzz.sh [SECONDS] [TARGET]      e.g.  bash scripts/fuzz.sh 60 fuzz_jpeg
# Corpora live in a temporary folder (removed at the end), seeded from tests/data; inputs
# that crash are kept in BUILD/artifacts/. Exits non-zero when any target failed.
# QV_FUZZ_BUILD=DIR uses an already configured fuzz build folder instead of the preset's.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
only="${2:-}"
build="${QV_FUZZ_BUILD:-build/fuzz}"
if [ -z "${QV_FUZZ_BUILD:-}" ]; then
  bash scripts/build.sh fuzz
elif [ -n "$only" ]; then
  cmake --build "$build" --target "fuzz_${only#fuzz_}" -- -j"$(nproc)"
else
  cmake --build "$build" -- -j"$(nproc)"
fi

work="$(mktemp -d -t qv-fuzz-XXXXXX)"
trap 'rm -rf "$work"' EXIT
artifacts="$(cd "$build" && pwd)/artifacts"  # absolute: a target may change folder
mkdir -p "$artifacts"

# A valid grid file as seed: empty names, 3 x 3 points, an even 100 x 100 block.
make_grid_seed() {
  python3 - "$1" <<'PY'
import struct, sys
out = bytearray(struct.pack('<iiii', 0, 0, 3, 3))
for j in range(100):
    for i in range(100):
        x, y = i * 168, j * 156
        out += struct.pack('<iiii', x, y, x, y)
open(sys.argv[1], 'wb').write(out)
PY
}

status=0
ran=0
for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] || continue
  name="$(basename "$exe")"
  if [ -n "$only" ] && [ "$name" != "$only" ] && [ "$name" != "fuzz_$only" ]; then continue; fi
  corpus="$work/$name"
  seeds="$work/$name-seeds"
  mkdir -p "$corpus" "$seeds"
  extra=()
  case "$name" in
    fuzz_grid)
      make_grid_seed "$seeds/even.grid"
      extra+=(-max_len=170000) ;;
    fuzz_jpeg)
      cp tests/data/jpeg/*.jpg "$seeds/" ;;
    *)
      # Seeds from tests/data/<format> when such a folder exists (fuzz_bmp -> bmp).
      dir="tests/data/${name#fuzz_}"
      if [ -d "$dir" ]; then find "$dir" -maxdepth 1 -type f ! -name '*.md' -exec cp {} "$seeds/" \; ; fi ;;
  esac
  echo "== $name for $seconds s"
  ran=$((ran + 1))
  if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "${extra[@]}" "$corpus" "$seeds"; then
    echo "$name FAILED (artifacts in $artifacts)" >&2
    status=1
  fi
done
if [ "$ran" -eq 0 ]; then
  echo "no fuzz target matches '${only}'" >&2
  exit 2
fi
exit "$status"
