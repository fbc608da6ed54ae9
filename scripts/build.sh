#!/usr/bin/env bash
# Configures (once) and builds one preset: default, asan or fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
# Let clones and work trees in other folders share the compiler cache.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
if [ ! -f "build/$preset/build.ninja" ]; then
  cmake --preset "$preset" >/dev/null
fi
cmake --build --preset "$preset" -- -j"$(nproc)"
