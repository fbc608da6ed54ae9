#!/usr/bin/env bash
# Builds the Debian package: sets up what is missing, builds the programs and the manual
# pages (preset "default"), and runs CPack. The package lands in build/deb/:
#   bash scripts/package.sh
#   sudo apt-get install ./build/deb/quorvalin_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
if [ ! -f build/default/build.ninja ]; then
  cmake --preset default >/dev/null
fi
# Only what the package holds; CPack's own install step then finds it built.
cmake --build build/default --target quorvalin quorvalin-cli man_pages -- -j"$(nproc)"
rm -rf build/deb
mkdir -p build/deb
# CPack installs the build's install rules only: tests and benchmarks are not needed.
(cd build/deb && cpack -G DEB --config ../default/CPackConfig.cmake >cpack.log) ||
  { cat build/deb/cpack.log >&2; exit 1; }
deb=$(ls build/deb/quorvalin_*.deb)
echo "$deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
