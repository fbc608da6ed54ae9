#!/usr/bin/env bash
# Installs every Debian package the build, the editor and the tests need, when missing.
# Quick when nothing is missing: it only asks dpkg.
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config ccache
  qt6-base-dev libgl-dev libjpeg-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth x11-apps
  imagemagick netpbm libtiff-tools ffmpeg python3 python3-pil python3-skimage
  libpng-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libavfilter-dev libswresample-dev
  libdlib-dev libdlib-data libopencv-dev
  desktop-file-utils appstream dpkg-dev man-db scdoc librsvg2-bin xdotool time
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
