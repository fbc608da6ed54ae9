#!/usr/bin/env bash
# Renders the icon's PNG sizes from the SVG. Run after changing the SVG and commit the PNGs
# (the build uses the committed files, so it needs no SVG renderer).
# Needs rsvg-convert (Debian librsvg2-bin, installed by scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")"
svg=org.quorvalin.Quorvalin.svg
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" "$svg" --output "$size.png"
done
